/* A fetch owned by a window: its sockets, its timer and its work beside
   it come as the window's messages (UM_SOCKET, WM_TIMER REQUEST_TIMER_ID,
   UM_JOBDONE), which the window hands to OnRequestMessage. */
#include "timeclient/fetchrecord.h"

#include <string.h>

#include "base/fetchtimer.h"
#include "timeclient/clock.h"

static BOOL WatchByMessage(void *context, SOCKET sock, long events)
{
    return WSAAsyncSelect(sock, (HWND)context, UM_SOCKET, events) != SOCKET_ERROR;
}

static void ArmWindowTimer(void *context, DWORD ms)
{
    SetTimer((HWND)context, REQUEST_TIMER_ID, ms, NULL);
}

static void DisarmWindowTimer(void *context)
{
    KillTimer((HWND)context, REQUEST_TIMER_ID);
}

/* In the work's own thread: the window learns of it by message. */
static void PostWorkDone(void *context, WPARAM tag)
{
    PostMessageA((HWND)context, UM_JOBDONE, tag, 0);
}

static const RequestTransport windowTransport = {WatchByMessage, ArmWindowTimer,
                                                 DisarmWindowTimer, PostWorkDone};

int StartFetch(TimeRequest *request, HWND owner, const FetchOrder *order, RequestOutcome *outcome)
{
    return StartFetchWith(request, &windowTransport, owner, order, outcome);
}

int StartRequest(HWND owner, AppState *state, RequestOutcome *outcome)
{
    FetchOrder order;
    memset(&order, 0, sizeof order);
    order.host = TextOrEmpty(state->host);
    order.protocol = state->protocol;
    order.port = state->port;
    order.periodMs = state->timeOut != 0 ? FetchPeriod(state->timeOut) : 0;
    order.viaService = !state->reportOnly && !HoldsClockRight();
    order.sources = state->sources;
    order.hosts = &state->hosts;
    order.ntsTrust = state->ntsTrust;
    return StartFetch(state->request, owner, &order, outcome);
}

int AskServiceAgain(TimeRequest *request, HWND owner, const TimeSample *answered, int mode,
                    DWORD limit, RequestOutcome *outcome)
{
    return StartServiceAgainWith(request, &windowTransport, owner, answered, mode, limit,
                                 outcome);
}

OutcomeKind OnRequestMessage(TimeRequest *request, HWND window, UINT message, WPARAM wParam,
                             LPARAM lParam, RequestOutcome *outcome)
{
    ResetOutcome(outcome);
    BOOL ours = RequestOwnedBy(request, window);
    if (message == WM_TIMER && wParam == REQUEST_TIMER_ID) {
        KillTimer(window, REQUEST_TIMER_ID);
        return ours ? OnFetchTimer(request, outcome) : OUTCOME_NOT_OURS;
    }
    if (!ours)
        return OUTCOME_NOT_OURS;
    if (message == UM_SOCKET)
        return OnFetchSocket(request, (SOCKET)wParam, WSAGETSELECTEVENT(lParam),
                             WSAGETSELECTERROR(lParam), outcome);
    if (message == UM_JOBDONE)
        return OnFetchWorkDone(request, wParam, outcome);
    return OUTCOME_NOT_OURS;
}
