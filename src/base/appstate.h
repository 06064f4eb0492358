#ifndef HORAVEX_BASE_APPSTATE_H
#define HORAVEX_BASE_APPSTATE_H

#include <windows.h>
#include <winsock.h>

/* A counted array of heap strings, grown one slot at a time. */
struct StringList {
    int itemCount;
    char **items;
};

/* The one record of settings and request state, owned by the main window. */
struct AppState {
    int autoClose;
    int reportOnly;
    int autoStart;
    int sysTray;
    int busy;
    int quiet;
    DWORD attempts;
    DWORD calibrationsLeft;
    DWORD timeOut;
    int logOpts;
    int adjOpt;
    DWORD maxAdjust;
    SOCKET sock;
    DWORD port;
    char *host;
    char *tzName;
    char *logPath;
    DWORD startTick;
    DWORD connectTime;
    DWORD lag;
    HCURSOR busyCursor;
    UINT_PTR autoCloseTimer;
    StringList hosts;
    /* The reply's bytes as they come: TCP may deliver them in pieces. */
    BYTE reply[4];
    DWORD replyLength;
    /* The request's own FD_CONNECT has come. */
    int connected;
};

/* The record held in a main window's window data, or null. */
AppState *AppStateOf(HWND window);

/* A text field of the record; a missing string reads as an empty text. */
const char *TextOrEmpty(const char *text);

#endif
