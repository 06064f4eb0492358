#ifndef HORAVEX_REQUEST_H
#define HORAVEX_REQUEST_H

#include <windows.h>
#include <winsock.h>

#include "base/appstate.h"
#include "timeclient/outcome.h"
#include "timeclient/sntp.h"
#include "timeclient/timeproto.h"

/* The owner's timer that paces an SNTP exchange: the wait before its
   packet goes, then its time limit. */
#define REQUEST_TIMER_ID 102

/* The request engine's own record: one request's whole life, from the
   start of a fetch to its one outcome, and the manners of the server it
   asks.  The program keeps one, shared by the main window and the main
   dialog: a start by either ends the other's request first. */
struct TimeRequest {
    /* The window that gets UM_SOCKET and WM_TIMER REQUEST_TIMER_ID. */
    HWND owner;
    /* The fetch, kept to its end whatever the settings say meanwhile. */
    char host[TEXT_BUFFER_SIZE];
    int protocol;
    DWORD port;
    /* How soon this program would ask the server again by itself (0:
       not at all): a RATE kiss holds it off for twice that at least. */
    DWORD periodMs;
    /* Calibration readings still due; a fetch that ends early leaves
       them to the next fetch of either owner. */
    DWORD calibrationsLeft;
    /* The exchange under way. */
    int busy;
    SOCKET sock;
    struct sockaddr_in address;
    DWORD startTick;
    DWORD connectTime;
    DWORD lag;
    /* The Time protocol: its own FD_CONNECT has come; the reply so far. */
    int connected;
    TimeReplyBytes reply;
    /* SNTP: waiting out the spacing before the packet goes; the packet. */
    int waitingToSend;
    SntpExchange sntp;
    /* The timer is set (REQUEST_TIMER_ID at the owner), due then. */
    int timerArmed;
    DWORD timerDue;
    /* Of a calibrated SNTP fetch, the exchange with the smallest delay. */
    int haveBest;
    LONGLONG bestOffset;
    LONGLONG bestDelay;
    /* The server the manners are of; a new host starts afresh. */
    char mannersHost[TEXT_BUFFER_SIZE];
    ServerManners manners;
};

/* A record at rest; null when there is no memory for it. */
TimeRequest *NewTimeRequest(void);
/* Ends its request and frees it. */
void FreeTimeRequest(TimeRequest *request);

/* Starts a fetch from host for owner; an older request ends first.  1
   when it is under way, 0 when it ended at once (the outcome says how). */
int StartFetch(TimeRequest *request, HWND owner, const char *host, int protocol, DWORD port,
               DWORD periodMs, RequestOutcome *outcome);

/* The same with the settings of the record: host, protocol, port and the
   fetch period. */
int StartRequest(HWND owner, AppState *state, RequestOutcome *outcome);

/* What a message that window got means to the request: UM_SOCKET (a
   notification of its socket) or WM_TIMER REQUEST_TIMER_ID (the packet
   goes now, or no answer came); OUTCOME_NOT_OURS for any other. */
OutcomeKind OnRequestMessage(TimeRequest *request, HWND window, UINT message, WPARAM wParam,
                             LPARAM lParam, RequestOutcome *outcome);

/* Ends the request for its owner: OUTCOME_STOPPED, or OUTCOME_NOT_OURS
   when none runs. */
OutcomeKind StopRequest(TimeRequest *request, RequestOutcome *outcome);

/* Ends whatever runs, telling nobody: socket closed, timer killed. */
void EndRequest(TimeRequest *request);

BOOL RequestRunning(const TimeRequest *request);
/* True while a request of that window runs. */
BOOL RequestOwnedBy(const TimeRequest *request, HWND window);

/* A new socket of type (SOCK_STREAM or SOCK_DGRAM) with address filled in
   for host and port (a zero port is looked up as service); INVALID_SOCKET
   when a step failed, *step naming it and the Windows Sockets error left. */
SOCKET OpenServerSocket(const char *host, DWORD port, const char *service, int type,
                        struct sockaddr_in *address, char *step, size_t stepSize);
/* The same for a stream socket (the Time protocol). */
SOCKET OpenTimeSocket(const char *host, DWORD port, const char *service,
                      struct sockaddr_in *address, char *step, size_t stepSize);

#endif
