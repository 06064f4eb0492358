#ifndef HORAVEX_REQUEST_H
#define HORAVEX_REQUEST_H

#include <winsock2.h>
#include <windows.h>

#include "base/appstate.h"
#include "base/backgroundjob.h"
#include "timeclient/manners.h"
#include "timeclient/outcome.h"
#include "timeclient/resolve.h"
#include "timeclient/sntp.h"
#include "timeclient/timeproto.h"

/* The owner's timer that paces an exchange: the wait before an SNTP
   packet goes, then its time limit; the limit of an address's connection
   when another address of the name follows. */
#define REQUEST_TIMER_ID 102
/* An address that gives no connection (Time protocol) or no usable reply
   (SNTP) in this long gives way to the next address of its name. */
#define ADDRESS_TIME_LIMIT_MS 2000
/* A Time-protocol server that accepted the connection has this long to
   send its four bytes. */
#define TIME_REPLY_LIMIT_MS 5000

/* What a fetch is asked for. */
struct FetchOrder {
    const char *host;
    int protocol;
    DWORD port;
    /* How soon this program would ask the server again by itself (0:
       not at all): a RATE kiss holds it off for twice that at least. */
    DWORD periodMs;
    /* The program lacks the right to set the clock: the reading that
       counts is the time service's to take and set. */
    BOOL viaService;
    /* The host's addresses, looked up already (the time service looks up
       before it takes its lock); null: the engine looks them up. */
    const ServerAddresses *addresses;
};

/* The request engine's own record: one request's whole life, from the
   start of a fetch to its one outcome, and the manners of the servers it
   asks.  The program keeps one, shared by the main window and the main
   dialog: a start by either ends the other's request first. */
struct TimeRequest {
    /* The window that gets UM_SOCKET, UM_JOBDONE and WM_TIMER
       REQUEST_TIMER_ID; null for a request run by RunRequest. */
    HWND owner;
    /* The fetch, kept to its end whatever the settings say meanwhile. */
    char host[TEXT_BUFFER_SIZE];
    int protocol;
    DWORD port;
    DWORD periodMs;
    BOOL viaService;
    /* Why the service could not take the reading that counts: the
       program's own reading then says the clock was not set. */
    char whyNotSet[TEXT_BUFFER_SIZE];
    /* Calibration readings still due; a fetch that ends early leaves
       them to the next fetch of either owner. */
    DWORD calibrationsLeft;
    /* The exchange under way. */
    int busy;
    SOCKET sock;
    /* The name's addresses, and the one being tried; the host they are
       of.  Addresses the order gave are used instead of a lookup. */
    ServerAddresses addresses;
    int addressIndex;
    char resolvedHost[TEXT_BUFFER_SIZE];
    BOOL haveGivenAddresses;
    ServerAddresses givenAddresses;
    /* Work beside the window (the lookup, the service's answer), and the
       tag its message carries. */
    BackgroundJob *job;
    int jobKind;
    WPARAM jobTag;
    /* Waiting out our own spacing before the service asks the host. */
    int waitingForService;
    /* What the service is asked to accept (servicepipe.h), and for a
       second request after "Big Change" the reading the person answered. */
    int serviceMode;
    DWORD serviceLimit;
    TimeSample answered;
    DWORD startTick;
    DWORD connectTime;
    DWORD lag;
    /* The Time protocol: its own FD_CONNECT has come; the reply so far. */
    int connected;
    TimeReplyBytes reply;
    /* SNTP: waiting out the spacing before the packet goes; the packet. */
    int waitingToSend;
    SntpExchange sntp;
    /* The timer is set, due then. */
    int timerArmed;
    DWORD timerDue;
    /* Of a calibrated SNTP fetch, the exchange with the smallest delay. */
    int haveBest;
    LONGLONG bestOffset;
    LONGLONG bestDelay;
    /* Without a window: the event the socket signals. */
    WSAEVENT socketEvent;
};

/* A record at rest; null when there is no memory for it. */
TimeRequest *NewTimeRequest(void);
/* Ends its request and frees it. */
void FreeTimeRequest(TimeRequest *request);

/* Starts a fetch for owner (null: run it with RunRequest); an older
   request ends first.  1 when it is under way, 0 when it ended at once
   (the outcome says how). */
int StartFetch(TimeRequest *request, HWND owner, const FetchOrder *order, RequestOutcome *outcome);

/* The same with the settings of the record: host, protocol, port and the
   fetch period; through the time service when the program lacks the
   right to set the clock and is to set it. */
int StartRequest(HWND owner, AppState *state, RequestOutcome *outcome);

/* What a message that window got means to the request: UM_SOCKET (a
   notification of its socket), UM_JOBDONE (its lookup or the service's
   answer is in) or
   WM_TIMER REQUEST_TIMER_ID (the packet goes now, or no answer came);
   OUTCOME_NOT_OURS for any other. */
OutcomeKind OnRequestMessage(TimeRequest *request, HWND window, UINT message, WPARAM wParam,
                             LPARAM lParam, RequestOutcome *outcome);

/* After "Big Change" about the time service's reading: the service takes
   a new reading and sets the clock only within what the person accepted
   (mode SERVICE_ACCEPT_UP_TO with limit seconds, or SERVICE_LIMIT).  The
   request runs beside the window like the first one, Stop! ends it, and
   its outcome comes as a reading again, which the person is not asked
   about twice.  1 when it is under way, 0 when it ended at once. */
int AskServiceAgain(TimeRequest *request, HWND owner, const TimeSample *answered, int mode,
                    DWORD limit, RequestOutcome *outcome);

/* Runs a request started without a window until it ends, waiting on its
   socket and its time limits, and at most limitMs in all; any of the
   stopCount events in stops ends it early, as stopped. */
OutcomeKind RunRequest(TimeRequest *request, const HANDLE *stops, int stopCount, DWORD limitMs,
                       RequestOutcome *outcome);

/* Ends the request for its owner: OUTCOME_STOPPED, or OUTCOME_NOT_OURS
   when none runs. */
OutcomeKind StopRequest(TimeRequest *request, RequestOutcome *outcome);

/* Ends whatever runs, telling nobody: socket closed, timer killed. */
void EndRequest(TimeRequest *request);

BOOL RequestRunning(const TimeRequest *request);
/* True while a request of that window runs. */
BOOL RequestOwnedBy(const TimeRequest *request, HWND window);

/* The manners of the address last asked, or null before any. */
ServerManners *CurrentManners(TimeRequest *request);

/* A new stream socket with address filled in for host and port (a zero
   port is looked up as service); INVALID_SOCKET when a step failed, *step
   naming it and the Windows Sockets error left. */
SOCKET OpenTimeSocket(const char *host, DWORD port, const char *service,
                      SOCKADDR_STORAGE *address, char *step, size_t stepSize);

#endif
