#include "timeclient/outcome.h"

#include <string.h>

#include "base/precisetime.h"
#include "base/textfmt.h"
#include "timeclient/request.h"
#include "timeclient/sntp.h"
#include "timeclient/sockerr.h"
#include "timeclient/timeproto.h"

static OutcomeKind Report(RequestOutcome *outcome, OutcomeKind kind)
{
    outcome->kind = kind;
    return kind;
}

static OutcomeKind Fail(RequestOutcome *outcome, const char *format, ...) HORAVEX_PRINTF(2, 3);

static OutcomeKind Fail(RequestOutcome *outcome, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    FormatTextV(outcome->report, sizeof outcome->report, format, args);
    va_end(args);
    return Report(outcome, OUTCOME_FAILED);
}

static void StartOutcome(RequestOutcome *outcome)
{
    outcome->kind = OUTCOME_NOT_OURS;
    outcome->connectionFailed = FALSE;
    outcome->report[0] = '\0';
}

/* The Time protocol: connect, then the four bytes. */
static OutcomeKind TimeOutcome(AppState *state, SOCKET eventSocket, LPARAM lParam,
                               TimeSample *sample, RequestOutcome *outcome)
{
    if (WSAGETSELECTERROR(lParam) != 0) {
        outcome->connectionFailed = TRUE;
        return Fail(outcome, "Error connecting to: %s", TextOrEmpty(state->host));
    }
    switch (WSAGETSELECTEVENT(lParam)) {
    case FD_CONNECT:
        state->connectTime = GetTickCount() - state->startTick;
        state->connected = 1;
        return Report(outcome, OUTCOME_WAITING);
    case FD_READ:
    case FD_CLOSE: {
        /* Before its own connection, a read or close is a late one of the
           closed socket whose handle this one got.  A close may still
           leave the reply to read; without one it ends the request like an
           empty read. */
        if (!state->connected)
            return Report(outcome, OUTCOME_WAITING);
        int received = ReceiveTime(sample, eventSocket);
        if (NothingToRead(received))
            return Report(outcome, OUTCOME_WAITING);
        if (received != REPLY_BYTES)
            return Report(outcome, OUTCOME_NO_READING);
        return Report(outcome, state->calibrationsLeft != 0 ? OUTCOME_CALIBRATION : OUTCOME_READING);
    }
    }
    return Report(outcome, OUTCOME_WAITING);
}

static OutcomeKind FailWithSocketError(RequestOutcome *outcome, const char *host, int code)
{
    return Fail(outcome, "No answer from: %s (%d: %s)", host, code, SocketErrorText(code));
}

/* Of a calibrated fetch, the exchange with the smallest delay counts, as
   NTP clients choose. */
static OutcomeKind TakeSntpReading(AppState *state, TimeSample *sample, RequestOutcome *outcome)
{
    SntpExchange *exchange = &state->sntp;
    BOOL best = !exchange->haveBest || exchange->delay < exchange->bestDelay;
    if (state->calibrationsLeft != 0) {
        if (best) {
            exchange->haveBest = 1;
            exchange->bestOffset = sample->offset;
            exchange->bestDelay = exchange->delay;
        }
        return Report(outcome, OUTCOME_CALIBRATION);
    }
    if (!best) {
        sample->offset = exchange->bestOffset;
        sample->lag = (DWORD)TicksToMs(exchange->bestDelay);
    }
    return Report(outcome, OUTCOME_READING);
}

static OutcomeKind SntpOutcome(AppState *state, LPARAM lParam, TimeSample *sample,
                               RequestOutcome *outcome)
{
    char host[TEXT_BUFFER_SIZE];
    CopyPrintable(host, sizeof host, TextOrEmpty(state->host));
    /* A port that nothing listens on comes back as an error of the socket. */
    if (WSAGETSELECTERROR(lParam) != 0)
        return FailWithSocketError(outcome, host, WSAGETSELECTERROR(lParam));
    if (WSAGETSELECTEVENT(lParam) != FD_READ)
        return Report(outcome, OUTCOME_WAITING);
    SntpReply reply;
    int socketError = 0;
    SntpVerdict verdict = ReceiveSntpReply(state, sample, &reply, &socketError);
    if (socketError != 0)
        return FailWithSocketError(outcome, host, socketError);
    switch (verdict) {
    case SNTP_GOOD:
        return TakeSntpReading(state, sample, outcome);
    case SNTP_NOT_OURS:
        return Report(outcome, OUTCOME_WAITING);
    case SNTP_INVALID:
        return Fail(outcome, "Invalid reply from: %s (%s)", host, reply.reason);
    case SNTP_UNSYNCHRONISED:
        return Fail(outcome, "Not synchronised: %s (%s)", host, reply.reason);
    case SNTP_REFUSED:
        return Fail(outcome, "Refused by: %s (%s): no more requests go to it", host, reply.reason);
    case SNTP_SLOW_DOWN:
        return Fail(outcome, "Asked to slow down by: %s (%s): no request for %lu s", host,
                    reply.reason, (unsigned long)(state->manners.holdMs / 1000));
    case SNTP_UNCERTAIN:
        return Fail(outcome, "Too uncertain: %s (%s)", host, reply.reason);
    }
    return Report(outcome, OUTCOME_WAITING);
}

OutcomeKind OutcomeOfSocketEvent(AppState *state, WPARAM wParam, LPARAM lParam,
                                 TimeSample *sample, RequestOutcome *outcome)
{
    StartOutcome(outcome);
    memset(sample, 0, sizeof *sample);
    SOCKET eventSocket = (SOCKET)wParam;
    /* A socket that is no longer the request's was closed already. */
    if (state->sock == INVALID_SOCKET || eventSocket != state->sock)
        return Report(outcome, OUTCOME_NOT_OURS);
    if (state->requestProtocol == PROTOCOL_SNTP)
        return SntpOutcome(state, lParam, sample, outcome);
    return TimeOutcome(state, eventSocket, lParam, sample, outcome);
}

OutcomeKind OutcomeOfRequestTimer(HWND owner, AppState *state, RequestOutcome *outcome)
{
    StartOutcome(outcome);
    KillTimer(owner, REQUEST_TIMER_ID);
    if (state->sock == INVALID_SOCKET || state->requestOwner != owner
        || state->requestProtocol != PROTOCOL_SNTP)
        return Report(outcome, OUTCOME_NOT_OURS);
    if (state->sntp.waitingToSend) {
        SendSntpPacket(owner, state);
        return Report(outcome, OUTCOME_WAITING);
    }
    char host[TEXT_BUFFER_SIZE];
    CopyPrintable(host, sizeof host, TextOrEmpty(state->host));
    return Fail(outcome, "No answer from: %s", host);
}
