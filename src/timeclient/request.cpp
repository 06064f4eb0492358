#include "timeclient/request.h"

#include <stdlib.h>
#include <string.h>

#include "base/fetchtimer.h"
#include "base/precisetime.h"
#include "base/textfmt.h"
#include "timeclient/sockerr.h"

#define TIME_SERVICE "time"
#define SNTP_SERVICE "ntp"
#define TIME_EVENTS (FD_READ | FD_CONNECT | FD_CLOSE)
/* UDP has no connection: a read, or an error the stack reports. */
#define SNTP_EVENTS (FD_READ | FD_CLOSE)

TimeRequest *NewTimeRequest(void)
{
    TimeRequest *request = (TimeRequest *)calloc(1, sizeof *request);
    if (request != NULL)
        request->sock = INVALID_SOCKET;
    return request;
}

void FreeTimeRequest(TimeRequest *request)
{
    if (request == NULL)
        return;
    EndRequest(request);
    free(request);
}

BOOL RequestRunning(const TimeRequest *request)
{
    return request != NULL && request->busy;
}

BOOL RequestOwnedBy(const TimeRequest *request, HWND window)
{
    return RequestRunning(request) && request->owner == window;
}

static void ArmTimer(TimeRequest *request, DWORD ms)
{
    SetTimer(request->owner, REQUEST_TIMER_ID, ms, NULL);
    request->timerArmed = 1;
    request->timerDue = GetTickCount() + ms;
}

static void DisarmTimer(TimeRequest *request)
{
    if (request->timerArmed)
        KillTimer(request->owner, REQUEST_TIMER_ID);
    request->timerArmed = 0;
}

/* The one place a request's socket is closed.  A reply that comes later
   finds no socket, and none is ours any more. */
static void CloseExchange(TimeRequest *request)
{
    DisarmTimer(request);
    if (request->sock != INVALID_SOCKET) {
        closesocket(request->sock);
        request->sock = INVALID_SOCKET;
    }
    request->connected = 0;
    request->waitingToSend = 0;
    request->sntp.answered = 1;
}

void EndRequest(TimeRequest *request)
{
    CloseExchange(request);
    request->busy = 0;
}

static void StartOutcome(RequestOutcome *outcome)
{
    outcome->kind = OUTCOME_NOT_OURS;
    outcome->failure = FAILURE_NONE;
    outcome->socketError = 0;
    outcome->report[0] = '\0';
    memset(&outcome->sample, 0, sizeof outcome->sample);
}

static OutcomeKind Report(RequestOutcome *outcome, OutcomeKind kind)
{
    outcome->kind = kind;
    return kind;
}

/* Ends the request, then says how. */
static OutcomeKind Finish(TimeRequest *request, RequestOutcome *outcome, OutcomeKind kind)
{
    EndRequest(request);
    return Report(outcome, kind);
}

static OutcomeKind Fail(TimeRequest *request, RequestOutcome *outcome, FailureKind failure,
                        const char *format, ...) HORAVEX_PRINTF(4, 5);

static OutcomeKind Fail(TimeRequest *request, RequestOutcome *outcome, FailureKind failure,
                        const char *format, ...)
{
    va_list args;
    va_start(args, format);
    FormatTextV(outcome->report, sizeof outcome->report, format, args);
    va_end(args);
    outcome->failure = failure;
    return Finish(request, outcome, OUTCOME_FAILED);
}

/* The host as a report shows it: a control character would split it. */
static const char *ShownHost(const TimeRequest *request, char *shown, size_t size)
{
    CopyPrintable(shown, size, request->host);
    return shown;
}

static OutcomeKind FailWithSocketError(TimeRequest *request, RequestOutcome *outcome, int code)
{
    char host[TEXT_BUFFER_SIZE];
    return Fail(request, outcome, FAILURE_EXCHANGE, "No answer from: %s (%d: %s)",
                ShownHost(request, host, sizeof host), code, SocketErrorText(code));
}

static BOOL ResolveHost(const char *host, struct in_addr *address)
{
    /* No host name holds one: such a name is unknown, and never looked up. */
    if (HasControlCharacter(host)) {
        WSASetLastError(WSAHOST_NOT_FOUND);
        return FALSE;
    }
    address->s_addr = inet_addr(host);
    if (address->s_addr != INADDR_NONE)
        return TRUE;
    const struct hostent *entry = gethostbyname(host);
    if (entry == NULL || entry->h_addr_list[0] == NULL)
        return FALSE;
    memcpy(address, entry->h_addr_list[0], sizeof *address);
    return TRUE;
}

SOCKET OpenServerSocket(const char *host, DWORD port, const char *service, int type,
                        struct sockaddr_in *address, char *step, size_t stepSize)
{
    memset(address, 0, sizeof *address);
    address->sin_family = AF_INET;
    if (!ResolveHost(host, &address->sin_addr)) {
        char shown[TEXT_BUFFER_SIZE];
        CopyPrintable(shown, sizeof shown, host);
        FormatText(step, stepSize, "horavex: %s: unknown host", shown);
        return INVALID_SOCKET;
    }
    if (port != 0) {
        address->sin_port = htons((u_short)port);
    } else {
        const struct servent *entry = getservbyname(service, type == SOCK_DGRAM ? "udp" : "tcp");
        if (entry == NULL) {
            FormatText(step, stepSize, "horavex: getservbyname failed");
            return INVALID_SOCKET;
        }
        address->sin_port = (u_short)entry->s_port;
    }
    SOCKET serverSocket = socket(AF_INET, type, 0);
    if (serverSocket == INVALID_SOCKET)
        FormatText(step, stepSize, "horavex: could not get socket");
    return serverSocket;
}

SOCKET OpenTimeSocket(const char *host, DWORD port, const char *service,
                      struct sockaddr_in *address, char *step, size_t stepSize)
{
    return OpenServerSocket(host, port, service, SOCK_STREAM, address, step, stepSize);
}

/* A socket for the exchange, its notifications going to the owner. */
static BOOL OpenExchangeSocket(TimeRequest *request, RequestOutcome *outcome)
{
    BOOL sntp = request->protocol == PROTOCOL_SNTP;
    request->sock = OpenServerSocket(request->host, sntp ? SNTP_PORT : request->port,
                                     sntp ? SNTP_SERVICE : TIME_SERVICE,
                                     sntp ? SOCK_DGRAM : SOCK_STREAM, &request->address,
                                     outcome->report, sizeof outcome->report);
    if (request->sock != INVALID_SOCKET
        && WSAAsyncSelect(request->sock, request->owner, UM_SOCKET,
                          sntp ? SNTP_EVENTS : TIME_EVENTS) == SOCKET_ERROR)
        FormatText(outcome->report, sizeof outcome->report, "WSAAsyncSelect Error!");
    else if (request->sock != INVALID_SOCKET)
        return TRUE;
    outcome->socketError = WSAGetLastError();
    outcome->failure = FAILURE_SOCKET;
    Finish(request, outcome, OUTCOME_FAILED);
    return FALSE;
}

/* The manners belong to one host: a new host starts afresh. */
static void MannersFor(TimeRequest *request)
{
    if (strcmp(request->mannersHost, request->host) == 0)
        return;
    memset(&request->manners, 0, sizeof request->manners);
    lstrcpynA(request->mannersHost, request->host, sizeof request->mannersHost);
}

/* The packet goes, and the time limit for its answer starts. */
static OutcomeKind SendPacket(TimeRequest *request, RequestOutcome *outcome)
{
    request->waitingToSend = 0;
    if (!SendSntpRequest(request->sock, &request->sntp, &request->manners))
        return FailWithSocketError(request, outcome, WSAGetLastError());
    request->connectTime = GetTickCount() - request->startTick;
    ArmTimer(request, SNTP_TIME_LIMIT_MS);
    return Report(outcome, OUTCOME_WAITING);
}

/* A server that refused us, or asked for fewer requests than a fetch
   waits out, gets no packet. */
static int StartSntpExchange(TimeRequest *request, RequestOutcome *outcome)
{
    char host[TEXT_BUFFER_SIZE];
    DWORD waitMs = 0;
    MannersFor(request);
    if (!SntpSendAllowed(&request->manners, ShownHost(request, host, sizeof host), &waitMs,
                         outcome->report, sizeof outcome->report)) {
        outcome->failure = FAILURE_HELD;
        Finish(request, outcome, OUTCOME_FAILED);
        return 0;
    }
    if (!OpenExchangeSocket(request, outcome))
        return 0;
    request->connected = 1;
    /* Connected, the stack drops datagrams from any other address or port. */
    if (connect(request->sock, (const struct sockaddr *)&request->address,
                sizeof request->address) != 0) {
        FailWithSocketError(request, outcome, WSAGetLastError());
        return 0;
    }
    if (waitMs != 0) {
        request->waitingToSend = 1;
        ArmTimer(request, waitMs);
        return 1;
    }
    return SendPacket(request, outcome) == OUTCOME_WAITING;
}

static int StartTimeExchange(TimeRequest *request, RequestOutcome *outcome)
{
    if (!OpenExchangeSocket(request, outcome))
        return 0;
    /* Non-blocking: the outcome arrives as FD_CONNECT. */
    connect(request->sock, (const struct sockaddr *)&request->address, sizeof request->address);
    return 1;
}

/* One exchange of the fetch: each resolves and connects afresh. */
static int StartExchange(TimeRequest *request, RequestOutcome *outcome)
{
    request->startTick = GetTickCount();
    request->connectTime = 0;
    request->reply.length = 0;
    request->connected = 0;
    request->sntp.answered = 1;
    if (request->protocol == PROTOCOL_SNTP)
        return StartSntpExchange(request, outcome);
    return StartTimeExchange(request, outcome);
}

int StartFetch(TimeRequest *request, HWND owner, const char *host, int protocol, DWORD port,
               DWORD periodMs, RequestOutcome *outcome)
{
    StartOutcome(outcome);
    /* An older request ends here, so that its socket is not lost. */
    EndRequest(request);
    request->owner = owner;
    lstrcpynA(request->host, host, sizeof request->host);
    request->protocol = protocol == PROTOCOL_SNTP ? PROTOCOL_SNTP : PROTOCOL_TIME;
    request->port = port;
    request->periodMs = periodMs;
    request->haveBest = 0;
    request->busy = 1;
    return StartExchange(request, outcome);
}

int StartRequest(HWND owner, AppState *state, RequestOutcome *outcome)
{
    DWORD periodMs = state->timeOut != 0 ? FetchPeriod(state->timeOut) : 0;
    return StartFetch(state->request, owner, TextOrEmpty(state->host), state->protocol,
                      state->port, periodMs, outcome);
}

/* Of a calibrated SNTP fetch, the exchange with the smallest delay counts,
   as NTP clients choose: the reading that counts carries the best one's
   offset and delay, each calibration its own delay. */
static void KeepBestExchange(TimeRequest *request, TimeSample *sample, LONGLONG delay)
{
    sample->lag = (DWORD)TicksToMs(delay);
    if (!request->haveBest || delay < request->bestDelay) {
        request->haveBest = 1;
        request->bestOffset = sample->offset;
        request->bestDelay = delay;
    }
    if (request->calibrationsLeft == 0) {
        sample->offset = request->bestOffset;
        sample->lag = (DWORD)TicksToMs(request->bestDelay);
    }
}

/* A reading taken: a calibration starts the next exchange at once, the
   reading that counts ends the request. */
static OutcomeKind TakeReading(TimeRequest *request, RequestOutcome *outcome)
{
    TimeSample *sample = &outcome->sample;
    request->lag = sample->lag;
    /* Kept with the reading: a request started while one of its boxes is
       open must not change what its line and fields say. */
    sample->connectTime = request->connectTime;
    lstrcpynA(sample->host, request->host, sizeof sample->host);
    if (request->calibrationsLeft == 0)
        return Finish(request, outcome, OUTCOME_READING);
    request->calibrationsLeft--;
    CloseExchange(request);
    RequestOutcome next;
    StartOutcome(&next);
    if (!StartExchange(request, &next)) {
        *outcome = next;
        return outcome->kind;
    }
    return Report(outcome, OUTCOME_CALIBRATION);
}

/* The Time protocol: connect, then the four bytes. */
static OutcomeKind OnTimeSocket(TimeRequest *request, LPARAM lParam, RequestOutcome *outcome)
{
    if (WSAGETSELECTERROR(lParam) != 0)
        return Fail(request, outcome, FAILURE_CONNECTION, "Error connecting to: %s",
                    request->host);
    switch (WSAGETSELECTEVENT(lParam)) {
    case FD_CONNECT:
        request->connectTime = GetTickCount() - request->startTick;
        request->connected = 1;
        return Report(outcome, OUTCOME_WAITING);
    case FD_READ:
    case FD_CLOSE: {
        /* Before its own connection, a read or close is a late one of the
           closed socket whose handle this one got.  A close may still
           leave the reply to read; without one it ends the request like an
           empty read. */
        if (!request->connected)
            return Report(outcome, OUTCOME_WAITING);
        int received = ReceiveTime(&outcome->sample, request->sock, &request->reply,
                                   request->startTick);
        if (NothingToRead(received))
            return Report(outcome, OUTCOME_WAITING);
        if (received != REPLY_BYTES)
            return Finish(request, outcome, OUTCOME_NO_READING);
        return TakeReading(request, outcome);
    }
    }
    return Report(outcome, OUTCOME_WAITING);
}

static OutcomeKind FailWithVerdict(TimeRequest *request, RequestOutcome *outcome,
                                   SntpVerdict verdict, const char *reason)
{
    char host[TEXT_BUFFER_SIZE];
    ShownHost(request, host, sizeof host);
    switch (verdict) {
    case SNTP_UNSYNCHRONISED:
        return Fail(request, outcome, FAILURE_EXCHANGE, "Not synchronised: %s (%s)", host, reason);
    case SNTP_REFUSED:
        return Fail(request, outcome, FAILURE_EXCHANGE,
                    "Refused by: %s (%s): no more requests go to it", host, reason);
    case SNTP_SLOW_DOWN:
        return Fail(request, outcome, FAILURE_EXCHANGE,
                    "Asked to slow down by: %s (%s): no request for %lu s", host, reason,
                    (unsigned long)(request->manners.holdMs / 1000));
    case SNTP_UNCERTAIN:
        return Fail(request, outcome, FAILURE_EXCHANGE, "Too uncertain: %s (%s)", host, reason);
    default:
        return Fail(request, outcome, FAILURE_EXCHANGE, "Invalid reply from: %s (%s)", host,
                    reason);
    }
}

static OutcomeKind OnSntpSocket(TimeRequest *request, LPARAM lParam, RequestOutcome *outcome)
{
    /* A port that nothing listens on comes back as an error of the socket. */
    if (WSAGETSELECTERROR(lParam) != 0)
        return FailWithSocketError(request, outcome, WSAGETSELECTERROR(lParam));
    if (WSAGETSELECTEVENT(lParam) != FD_READ)
        return Report(outcome, OUTCOME_WAITING);
    SntpReply reply;
    SntpMeasure measure;
    int socketError = 0;
    SntpVerdict verdict = ReceiveSntpReply(request->sock, &request->sntp, &request->manners,
                                           request->periodMs, &reply, &measure, &socketError);
    if (socketError != 0)
        return FailWithSocketError(request, outcome, socketError);
    if (verdict == SNTP_NOT_OURS)
        return Report(outcome, OUTCOME_WAITING);
    if (verdict != SNTP_GOOD)
        return FailWithVerdict(request, outcome, verdict, reply.reason);
    TimeSample *sample = &outcome->sample;
    sample->precise = TRUE;
    sample->localClock = measure.localClock;
    sample->offset = measure.offset;
    KeepBestExchange(request, sample, measure.delay);
    return TakeReading(request, outcome);
}

static OutcomeKind OnRequestSocket(TimeRequest *request, HWND window, WPARAM wParam,
                                   LPARAM lParam, RequestOutcome *outcome)
{
    /* A socket that is no longer the request's was closed already. */
    if (!RequestOwnedBy(request, window) || request->sock == INVALID_SOCKET
        || (SOCKET)wParam != request->sock)
        return OUTCOME_NOT_OURS;
    if (request->protocol == PROTOCOL_SNTP)
        return OnSntpSocket(request, lParam, outcome);
    return OnTimeSocket(request, lParam, outcome);
}

static OutcomeKind OnRequestTimer(TimeRequest *request, HWND window, RequestOutcome *outcome)
{
    KillTimer(window, REQUEST_TIMER_ID);
    if (!RequestOwnedBy(request, window) || !request->timerArmed)
        return OUTCOME_NOT_OURS;
    request->timerArmed = 0;
    if (request->waitingToSend)
        return SendPacket(request, outcome);
    char host[TEXT_BUFFER_SIZE];
    return Fail(request, outcome, FAILURE_EXCHANGE, "No answer from: %s",
                ShownHost(request, host, sizeof host));
}

OutcomeKind OnRequestMessage(TimeRequest *request, HWND window, UINT message, WPARAM wParam,
                             LPARAM lParam, RequestOutcome *outcome)
{
    StartOutcome(outcome);
    if (message == UM_SOCKET)
        return OnRequestSocket(request, window, wParam, lParam, outcome);
    if (message == WM_TIMER && wParam == REQUEST_TIMER_ID)
        return OnRequestTimer(request, window, outcome);
    return OUTCOME_NOT_OURS;
}

OutcomeKind StopRequest(TimeRequest *request, RequestOutcome *outcome)
{
    StartOutcome(outcome);
    if (!RequestRunning(request))
        return OUTCOME_NOT_OURS;
    return Finish(request, outcome, OUTCOME_STOPPED);
}
