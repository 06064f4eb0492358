/* A fetch without a window (the time service's): its sockets signal one
   event, and RunRequest waits on it, on its key exchanges' threads, on the
   fetch's deadlines and on its stop events in the caller's own thread.  It
   looks names up at once: its caller waits in a thread of its own anyway. */
#include "timeclient/fetchrecord.h"

#include <string.h>

#define MOST_STOPS 4
#define MOST_WAITS (MOST_STOPS + 1 + MOST_EXCHANGES)

static BOOL WatchByEvent(void *context, SOCKET sock, long events)
{
    TimeRequest *request = (TimeRequest *)context;
    if (request->socketEvent == NULL)
        request->socketEvent = WSACreateEvent();
    return request->socketEvent != WSA_INVALID_EVENT
           && WSAEventSelect(sock, request->socketEvent, events) != SOCKET_ERROR;
}

/* RunRequest reads the due time from the record. */
static void KeepDue(void *, DWORD)
{
}

static void ForgetDue(void *)
{
}

static const RequestTransport eventTransport = {WatchByEvent, KeepDue, ForgetDue, NULL};

int StartWindowlessFetch(TimeRequest *request, const FetchOrder *order, RequestOutcome *outcome)
{
    FetchOrder own = *order;
    own.viaService = FALSE;
    return StartFetchWith(request, &eventTransport, request, &own, outcome);
}

/* The whole limit is up: the fetch ends, and says so. */
static OutcomeKind OutOfTime(TimeRequest *request, DWORD limitMs, RequestOutcome *outcome)
{
    char host[TEXT_BUFFER_SIZE];
    ResetOutcome(outcome);
    CopyPrintable(host, sizeof host, request->host);
    FormatText(outcome->report, sizeof outcome->report, "No reading from: %s within %lu s", host,
               (unsigned long)((limitMs + 999) / 1000));
    outcome->failure = FAILURE_EXCHANGE;
    outcome->socketError = WSAETIMEDOUT;
    return FinishFetch(request, outcome, OUTCOME_FAILED);
}

/* The events each socket signalled, in the order a window would get them;
   the event is reset first, so that one signalled meanwhile wakes the
   next wait. */
static OutcomeKind OnSocketEvents(TimeRequest *request, RequestOutcome *outcome)
{
    static const struct {
        long event;
        int bit;
    } order[] = {{FD_CONNECT, FD_CONNECT_BIT}, {FD_READ, FD_READ_BIT}, {FD_CLOSE, FD_CLOSE_BIT}};
    WSAResetEvent(request->socketEvent);
    for (int i = 0; i < request->exchangeCount && RequestRunning(request); i++) {
        SOCKET signalled = request->exchanges[i].sock;
        WSANETWORKEVENTS events;
        if (signalled == INVALID_SOCKET || WSAEnumNetworkEvents(signalled, NULL, &events) != 0)
            continue;
        for (const auto &entry : order) {
            if ((events.lNetworkEvents & entry.event) == 0 || request->exchanges[i].sock != signalled)
                continue;
            ResetOutcome(outcome);
            OutcomeKind kind = OnFetchSocket(request, signalled, entry.event,
                                             events.iErrorCode[entry.bit], outcome);
            if (kind >= OUTCOME_CALIBRATION)
                return kind;
        }
    }
    return OUTCOME_WAITING;
}

static BOOL AnySocketOpen(const TimeRequest *request)
{
    for (int i = 0; i < request->exchangeCount; i++)
        if (request->exchanges[i].sock != INVALID_SOCKET)
            return TRUE;
    return FALSE;
}

OutcomeKind RunRequest(TimeRequest *request, const HANDLE *stops, int stopCount, DWORD limitMs,
                       RequestOutcome *outcome)
{
    DWORD deadline = GetTickCount() + limitMs;
    if (stopCount > MOST_STOPS)
        stopCount = MOST_STOPS;
    while (RequestRunning(request) && request->context == request) {
        LONG left = (LONG)(deadline - GetTickCount());
        if (left <= 0)
            return OutOfTime(request, limitMs, outcome);
        DWORD wait = (DWORD)left;
        if (request->timerArmed) {
            LONG due = (LONG)(request->timerDue - GetTickCount());
            if (due < left)
                wait = due > 0 ? (DWORD)due : 0;
        }
        HANDLE handles[MOST_WAITS];
        int working[MOST_EXCHANGES];
        for (int i = 0; i < stopCount; i++)
            handles[i] = stops[i];
        BOOL watching = request->socketEvent != NULL && AnySocketOpen(request);
        if (watching)
            handles[stopCount] = request->socketEvent;
        DWORD count = (DWORD)stopCount + (watching ? 1 : 0);
        DWORD firstWork = count;
        for (int i = 0; i < request->exchangeCount; i++)
            if (request->exchanges[i].job != NULL) {
                working[count - firstWork] = i;
                handles[count++] = JobDoneEvent(request->exchanges[i].job);
            }
        DWORD woken = WAIT_TIMEOUT;
        if (count != 0)
            woken = WaitForMultipleObjects(count, handles, FALSE, wait);
        else
            Sleep(wait);
        OutcomeKind kind = OUTCOME_WAITING;
        if (woken < WAIT_OBJECT_0 + (DWORD)stopCount) {
            return StopRequest(request, outcome);
        } else if (woken == WAIT_TIMEOUT) {
            if (!request->timerArmed || (LONG)(request->timerDue - GetTickCount()) > 0)
                continue;
            ResetOutcome(outcome);
            kind = OnFetchTimer(request, outcome);
        } else if (watching && woken == WAIT_OBJECT_0 + (DWORD)stopCount) {
            kind = OnSocketEvents(request, outcome);
        } else if (woken >= WAIT_OBJECT_0 + firstWork && woken < WAIT_OBJECT_0 + count) {
            ResetOutcome(outcome);
            const Exchange *done = &request->exchanges[working[woken - WAIT_OBJECT_0 - firstWork]];
            kind = OnFetchWorkDone(request, done->jobTag, outcome);
        } else {
            ResetOutcome(outcome);
            FormatText(outcome->report, sizeof outcome->report, "horavex: could not wait");
            outcome->failure = FAILURE_SOCKET;
            outcome->socketError = (int)GetLastError();
            return FinishFetch(request, outcome, OUTCOME_FAILED);
        }
        if (kind >= OUTCOME_READING)
            return kind;
    }
    return outcome->kind;
}
