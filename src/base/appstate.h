#ifndef HORAVEX_BASE_APPSTATE_H
#define HORAVEX_BASE_APPSTATE_H

#include <windows.h>
#include <winsock.h>

#include "base/globals.h"

/* A counted array of heap strings, grown one slot at a time. */
struct StringList {
    int itemCount;
    char **items;
};

/* protocol: how the time is asked for. */
#define PROTOCOL_TIME 0
#define PROTOCOL_SNTP 1

/* The SNTP exchange under way (one request: one packet out, one reply). */
struct SntpExchange {
    /* The transmit bits sent, random; a reply of ours carries them back. */
    unsigned long long cookie;
    /* T1: the local clock when the packet went, and the counter then, from
       which T4 is measured. */
    LONGLONG sentAt;
    LONGLONG sentCounter;
    /* Waiting out the spacing before the packet goes. */
    int waitingToSend;
    /* A reply has been taken: any later one is not ours. */
    int answered;
    /* Started by a calibration: the fetch's best exchange so far stays. */
    int continuing;
    /* The round-trip delay of the exchange just answered, in ticks. */
    LONGLONG delay;
    /* The exchange of the fetch with the smallest delay. */
    int haveBest;
    LONGLONG bestOffset;
    LONGLONG bestDelay;
};

/* How the program treats the current SNTP server: not more than one
   packet every two seconds, fewer after it asked for that, none after it
   refused us. */
struct ServerManners {
    char host[TEXT_BUFFER_SIZE];
    int sent;
    DWORD lastSendTick;
    DWORD lastIntervalMs;
    /* After a RATE kiss: at least this long between packets. */
    DWORD holdMs;
    /* After a DENY or RSTR kiss: nothing more goes to it. */
    char refusal[8];
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
    /* The request's own FD_CONNECT has come (at once for SNTP's UDP). */
    int connected;
    /* 0: the Time protocol over TCP 37; 1: SNTP over UDP 123. */
    int protocol;
    /* The window whose request runs (its timer paces an SNTP exchange),
       and the protocol it runs, whatever the setting says meanwhile. */
    HWND requestOwner;
    int requestProtocol;
    SntpExchange sntp;
    ServerManners manners;
};

/* The record held in a main window's window data, or null. */
AppState *AppStateOf(HWND window);

/* A text field of the record; a missing string reads as an empty text. */
const char *TextOrEmpty(const char *text);

#endif
