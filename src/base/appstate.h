#ifndef HORAVEX_BASE_APPSTATE_H
#define HORAVEX_BASE_APPSTATE_H

#include <windows.h>

#include "base/globals.h"

/* A counted array of heap strings, grown one slot at a time. */
struct StringList {
    int itemCount;
    char **items;
};

/* protocol: how the time is asked for. */
#define PROTOCOL_TIME 0
#define PROTOCOL_SNTP 1
#define PROTOCOL_NTS 2

/* The one record of settings and request state, owned by the main window. */
struct AppState {
    int autoClose;
    int reportOnly;
    int autoStart;
    int sysTray;
    int quiet;
    DWORD attempts;
    DWORD timeOut;
    int logOpts;
    int adjOpt;
    DWORD maxAdjust;
    DWORD port;
    char *host;
    char *tzName;
    char *logPath;
    HCURSOR busyCursor;
    UINT_PTR autoCloseTimer;
    StringList hosts;
    /* 0: the Time protocol over TCP 37; 1: SNTP over UDP 123; 2: NTS
       (NTS-KE over TLS 4460, then authenticated NTPv4). */
    int protocol;
    /* How many servers a fetch asks over SNTP or NTS: 1 to 8. */
    int sources;
    /* A PEM file of further roots NTS servers' certificates may lead to:
       named by the machine's settings alone. */
    char *ntsTrust;
    /* logPath was stored as REG_EXPAND_SZ: it names environment variables,
       expanded when the log is opened, and is written back so. */
    int logPathExpands;
    /* The request engine's record (timeclient/request.h): the request
       under way, its socket, timings and calibrations. */
    struct TimeRequest *request;
};

/* The record held in a main window's window data, or null. */
AppState *AppStateOf(HWND window);

/* A text field of the record; a missing string reads as an empty text. */
const char *TextOrEmpty(const char *text);

#endif
