#ifndef HORAVEX_REQUEST_H
#define HORAVEX_REQUEST_H

#include <winsock2.h>
#include <windows.h>

#include "base/appstate.h"
#include "timeclient/manners.h"
#include "timeclient/outcome.h"
#include "timeclient/resolve.h"

/* The owner's timer of a fetch: the earliest deadline of its exchanges
   (a packet's spacing, an answer's or a connection's limit) or of its
   wait for the time service. */
#define REQUEST_TIMER_ID 102
/* An address that gives no connection (Time protocol) or no usable reply
   (SNTP) in this long gives way to the next address of its name, or to
   another server of a fetch that asks several. */
#define ADDRESS_TIME_LIMIT_MS 2000
/* A Time-protocol server that accepted the connection has this long to
   send its four bytes. */
#define TIME_REPLY_LIMIT_MS 5000
/* The servers a fetch may ask at once (the sources setting). */
#define MOST_SOURCE_SETTING 8
/* An NTS key exchange has this long, connection and TLS included. */
#define NTS_KE_TIME_LIMIT_MS 5000

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
    /* How many servers to ask (SNTP; 1 otherwise), and the host list whose
       entries follow the host's own addresses (null: none); the entries'
       addresses looked up already, one for each entry (null: the engine
       looks them up; an entry without addresses did not resolve). */
    int sources;
    const StringList *hosts;
    const ServerAddresses *entryAddresses;
    /* NTS: a PEM file of further trusted roots (null: the machine's roots
       alone). */
    const char *ntsTrust;
};

/* The request engine's own record (timeclient/fetchrecord.h): one fetch's
   whole life, from its start to its one outcome.  The program keeps one,
   shared by the main window and the main dialog: a start by either ends
   the other's fetch first. */
struct TimeRequest;

/* A record at rest; null when there is no memory for it. */
TimeRequest *NewTimeRequest(void);
/* Ends its fetch and frees it. */
void FreeTimeRequest(TimeRequest *request);

/* Starts a fetch whose notifications go to the window (UM_SOCKET,
   UM_JOBDONE and WM_TIMER REQUEST_TIMER_ID); an older fetch ends first.
   1 when it is under way, 0 when it ended at once (the outcome says how). */
int StartFetch(TimeRequest *request, HWND owner, const FetchOrder *order, RequestOutcome *outcome);

/* The same with the settings of the record: host, protocol, port, the
   fetch period, the servers to ask and the host list; through the time
   service when the program lacks the right to set the clock and is to
   set it. */
int StartRequest(HWND owner, AppState *state, RequestOutcome *outcome);

/* After "Big Change" about the time service's reading: the service takes
   a new reading and sets the clock only within what the person accepted
   (mode SERVICE_ACCEPT_UP_TO with limit seconds, or SERVICE_LIMIT).  The
   request runs beside the window like the first one, Stop! ends it, and
   its outcome comes as a reading again, which the person is not asked
   about twice.  1 when it is under way, 0 when it ended at once. */
int AskServiceAgain(TimeRequest *request, HWND owner, const TimeSample *answered, int mode,
                    DWORD limit, RequestOutcome *outcome);

/* What a message that window got means to the fetch: UM_SOCKET (a
   notification of one of its sockets), UM_JOBDONE (a lookup or the
   service's answer is in) or WM_TIMER REQUEST_TIMER_ID (a deadline is
   due); OUTCOME_NOT_OURS for any other. */
OutcomeKind OnRequestMessage(TimeRequest *request, HWND window, UINT message, WPARAM wParam,
                             LPARAM lParam, RequestOutcome *outcome);

/* A fetch without a window (the time service's): started here, then run
   by RunRequest until it ends, waiting on its sockets and its deadlines,
   and at most limitMs in all; any of the stopCount events in stops ends
   it early, as stopped. */
int StartWindowlessFetch(TimeRequest *request, const FetchOrder *order, RequestOutcome *outcome);
OutcomeKind RunRequest(TimeRequest *request, const HANDLE *stops, int stopCount, DWORD limitMs,
                       RequestOutcome *outcome);

/* Ends the fetch for its owner: OUTCOME_STOPPED, or OUTCOME_NOT_OURS when
   none runs. */
OutcomeKind StopRequest(TimeRequest *request, RequestOutcome *outcome);

/* Ends whatever runs, telling nobody: sockets closed, timer killed. */
void EndRequest(TimeRequest *request);

BOOL RequestRunning(const TimeRequest *request);
/* True while a fetch of that window runs. */
BOOL RequestOwnedBy(const TimeRequest *request, HWND window);

/* Calibration readings still due: the dialog that fetches on opening
   asks for them; a fetch that ends early leaves them to the next fetch of
   either owner. */
void SetCalibrationsDue(TimeRequest *request, DWORD count);
DWORD CalibrationsDue(const TimeRequest *request);

/* The socket of the exchange a one-server fetch has under way, or
   INVALID_SOCKET: what a notification of it carries. */
SOCKET ExchangeSocket(const TimeRequest *request);

/* A new stream socket with address filled in for host and port (a zero
   port is looked up as service); INVALID_SOCKET when a step failed, *step
   naming it and the Windows Sockets error left. */
SOCKET OpenTimeSocket(const char *host, DWORD port, const char *service,
                      SOCKADDR_STORAGE *address, char *step, size_t stepSize);

#endif
