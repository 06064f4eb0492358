#include "timeclient/request.h"

#include <stdlib.h>
#include <string.h>

#include "base/fetchtimer.h"
#include "base/precisetime.h"
#include "base/textfmt.h"
#include "timeclient/adjustlimit.h"
#include "timeclient/clock.h"
#include "timeclient/servicepipe.h"
#include "timeclient/sockerr.h"

#define TIME_EVENTS (FD_READ | FD_CONNECT | FD_CLOSE)
/* UDP has no connection: a read, or an error the stack reports. */
#define SNTP_EVENTS (FD_READ | FD_CLOSE)

enum JobKind { JOB_LOOKUP, JOB_SERVICE };

/* The time service's reading, asked for beside the window. */
struct ServiceWork {
    ServiceRequest request;
    ServiceAnswer answer;
    ServiceTrouble trouble;
};

/* A request stopped meanwhile leaves the service's pipe: the service then
   sets nothing. */
static void AskService(void *data, HANDLE dropped)
{
    ServiceWork *work = (ServiceWork *)data;
    work->trouble = AskTimeService(&work->request, &work->answer, dropped);
}

/* The window learns that its work beside it is done. */
static void PostJobDone(void *window, WPARAM tag)
{
    PostMessageA((HWND)window, UM_JOBDONE, tag, 0);
}

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
    if (request->socketEvent != NULL)
        WSACloseEvent(request->socketEvent);
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
    if (request->owner != NULL)
        SetTimer(request->owner, REQUEST_TIMER_ID, ms, NULL);
    request->timerArmed = 1;
    request->timerDue = GetTickCount() + ms;
}

static void DisarmTimer(TimeRequest *request)
{
    if (request->timerArmed && request->owner != NULL)
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
    ReleaseBackgroundJob(request->job);
    request->job = NULL;
    request->waitingForService = 0;
    request->busy = 0;
}

/* The work beside the window: its message comes with the tag. */
static BOOL StartJob(TimeRequest *request, int kind, void (*work)(void *, HANDLE),
                     const void *data, size_t size)
{
    request->jobKind = kind;
    request->jobTag++;
    request->job = StartBackgroundJob(work, data, size, PostJobDone, request->owner,
                                      request->jobTag);
    return request->job != NULL;
}

static BOOL StartLookupJob(TimeRequest *request, u_short port, int type)
{
    request->jobKind = JOB_LOOKUP;
    request->jobTag++;
    request->job = StartLookup(request->host, port, type, PostJobDone, request->owner,
                               request->jobTag);
    return request->job != NULL;
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

static void Note(RequestOutcome *outcome, FailureKind failure, int socketError,
                 const char *format, ...) HORAVEX_PRINTF(4, 5);

/* What became of an address, kept for the report. */
static void Note(RequestOutcome *outcome, FailureKind failure, int socketError,
                 const char *format, ...)
{
    va_list args;
    va_start(args, format);
    FormatTextV(outcome->report, sizeof outcome->report, format, args);
    va_end(args);
    outcome->failure = failure;
    outcome->socketError = socketError;
}

/* The host as a report shows it: a control character would split it. */
static const char *ShownHost(const TimeRequest *request, char *shown, size_t size)
{
    CopyPrintable(shown, size, request->host);
    return shown;
}

static void NoteSocketError(TimeRequest *request, RequestOutcome *outcome, int code)
{
    char host[TEXT_BUFFER_SIZE];
    Note(outcome, FAILURE_EXCHANGE, code, "No answer from: %s (%d: %s)",
         ShownHost(request, host, sizeof host), code, SocketErrorText(code));
}

static BOOL MoreAddressesFollow(const TimeRequest *request)
{
    return request->addressIndex + 1 < request->addresses.count;
}

static const SOCKADDR_STORAGE *AddressInUse(const TimeRequest *request)
{
    return &request->addresses.items[request->addressIndex];
}

ServerManners *CurrentManners(TimeRequest *request)
{
    int count = request->addresses.count;
    if (count == 0)
        return NULL;
    int index = request->addressIndex < count ? request->addressIndex : count - 1;
    return MannersOfAddress(&request->addresses.items[index]);
}

/* The socket's notifications: to the owner, or to the record's event. */
static BOOL NotifyOwner(TimeRequest *request, long events)
{
    if (request->owner != NULL)
        return WSAAsyncSelect(request->sock, request->owner, UM_SOCKET, events) != SOCKET_ERROR;
    if (request->socketEvent == NULL)
        request->socketEvent = WSACreateEvent();
    return request->socketEvent != NULL
           && WSAEventSelect(request->sock, request->socketEvent, events) != SOCKET_ERROR;
}

/* A socket for the address in use, its notifications going to the owner. */
static BOOL OpenExchangeSocket(TimeRequest *request, RequestOutcome *outcome)
{
    BOOL sntp = request->protocol == PROTOCOL_SNTP;
    request->sock = socket(AddressInUse(request)->ss_family, sntp ? SOCK_DGRAM : SOCK_STREAM,
                           sntp ? IPPROTO_UDP : IPPROTO_TCP);
    if (request->sock == INVALID_SOCKET) {
        Note(outcome, FAILURE_SOCKET, WSAGetLastError(), "horavex: could not get socket");
        return FALSE;
    }
    if (NotifyOwner(request, sntp ? SNTP_EVENTS : TIME_EVENTS))
        return TRUE;
    Note(outcome, FAILURE_SOCKET, WSAGetLastError(), "WSAAsyncSelect Error!");
    CloseExchange(request);
    return FALSE;
}

/* The packet goes, and the time limit for its answer starts. */
static BOOL SendPacket(TimeRequest *request, ServerManners *manners, RequestOutcome *outcome)
{
    request->waitingToSend = 0;
    if (!SendSntpRequest(request->sock, &request->sntp, manners)) {
        NoteSocketError(request, outcome, WSAGetLastError());
        return FALSE;
    }
    request->connectTime = GetTickCount() - request->startTick;
    ArmTimer(request, MoreAddressesFollow(request) ? ADDRESS_TIME_LIMIT_MS : SNTP_TIME_LIMIT_MS);
    return TRUE;
}

/* An address that refused us, or asked for fewer requests than a fetch
   waits out, gets no packet; while another address of the name follows,
   one that asked for fewer requests at all gives way to it. */
static BOOL TrySntpAddress(TimeRequest *request, RequestOutcome *outcome)
{
    char host[TEXT_BUFFER_SIZE];
    DWORD waitMs = 0;
    ServerManners *manners = MannersOfAddress(AddressInUse(request));
    DWORD longestWaitMs = MoreAddressesFollow(request) ? SNTP_SPACING_MS : SNTP_LONGEST_WAIT_MS;
    ShownHost(request, host, sizeof host);
    if (manners == NULL) {
        Note(outcome, FAILURE_HELD, 0, "Refused by too many servers: no request sent to %s", host);
        return FALSE;
    }
    if (!SntpSendAllowed(manners, host, longestWaitMs, &waitMs, outcome->report,
                         sizeof outcome->report)) {
        outcome->failure = FAILURE_HELD;
        return FALSE;
    }
    if (!OpenExchangeSocket(request, outcome))
        return FALSE;
    request->connected = 1;
    /* Connected, the stack drops datagrams from any other address or port. */
    if (connect(request->sock, (const struct sockaddr *)AddressInUse(request),
                request->addresses.lengths[request->addressIndex]) != 0) {
        NoteSocketError(request, outcome, WSAGetLastError());
        return FALSE;
    }
    if (waitMs == 0)
        return SendPacket(request, manners, outcome);
    request->waitingToSend = 1;
    ArmTimer(request, waitMs);
    return TRUE;
}

static BOOL TryTimeAddress(TimeRequest *request, RequestOutcome *outcome)
{
    if (!OpenExchangeSocket(request, outcome))
        return FALSE;
    /* Non-blocking: the outcome arrives as FD_CONNECT. */
    connect(request->sock, (const struct sockaddr *)AddressInUse(request),
            request->addresses.lengths[request->addressIndex]);
    if (MoreAddressesFollow(request))
        ArmTimer(request, ADDRESS_TIME_LIMIT_MS);
    return TRUE;
}

/* From the address in use on, until one is under way; when none is, the
   last one's failure ends the request, with the count of addresses. */
static int TryAddresses(TimeRequest *request, RequestOutcome *outcome)
{
    for (; request->addressIndex < request->addresses.count; request->addressIndex++) {
        BOOL underWay = request->protocol == PROTOCOL_SNTP ? TrySntpAddress(request, outcome)
                                                           : TryTimeAddress(request, outcome);
        if (underWay)
            return 1;
        CloseExchange(request);
    }
    if (request->addresses.count > 1) {
        char count[48];
        FormatText(count, sizeof count, ", %d addresses tried", request->addresses.count);
        size_t length = strlen(outcome->report);
        lstrcpynA(outcome->report + length, count, (int)(sizeof outcome->report - length));
    }
    Finish(request, outcome, OUTCOME_FAILED);
    return 0;
}

/* The address in use failed (outcome says how): the next one of the name. */
static OutcomeKind AddressFailed(TimeRequest *request, RequestOutcome *outcome)
{
    CloseExchange(request);
    request->addressIndex++;
    if (TryAddresses(request, outcome))
        return Report(outcome, OUTCOME_WAITING);
    return outcome->kind;
}

static int FailLookup(TimeRequest *request, RequestOutcome *outcome, int error)
{
    char host[TEXT_BUFFER_SIZE];
    Note(outcome, FAILURE_SOCKET, error, "horavex: %s: unknown host",
         ShownHost(request, host, sizeof host));
    Finish(request, outcome, OUTCOME_FAILED);
    return 0;
}

static int TryResolvedAddresses(TimeRequest *request, RequestOutcome *outcome, int error)
{
    if (error != 0)
        return FailLookup(request, outcome, error);
    request->addressIndex = 0;
    return TryAddresses(request, outcome);
}

/* The reading that counts, asked of the time service: in a thread when a
   window waits, at once without one. */
static int StartServiceExchange(TimeRequest *request, RequestOutcome *outcome);

/* One exchange of the fetch: each resolves and connects afresh.  A name is
   looked up in a thread of its own, so that the windows stay responsive;
   an address as written, and a request without a window, need no wait. */
static int StartExchange(TimeRequest *request, RequestOutcome *outcome)
{
    request->startTick = GetTickCount();
    request->connectTime = 0;
    request->reply.length = 0;
    request->connected = 0;
    request->sntp.answered = 1;
    request->addressIndex = 0;
    /* The addresses of the last exchange tell the service's wait. */
    if (request->viaService && request->calibrationsLeft == 0)
        return StartServiceExchange(request, outcome);
    request->addresses.count = 0;
    lstrcpynA(request->resolvedHost, request->host, sizeof request->resolvedHost);
    if (request->haveGivenAddresses) {
        request->addresses = request->givenAddresses;
        return TryAddresses(request, outcome);
    }
    BOOL sntp = request->protocol == PROTOCOL_SNTP;
    u_short port = sntp ? SNTP_PORT : (u_short)request->port;
    int type = sntp ? SOCK_DGRAM : SOCK_STREAM;
    if (request->owner == NULL || IsAddressLiteral(request->host))
        return TryResolvedAddresses(request, outcome,
                                    ResolveServer(request->host, port, type, &request->addresses));
    if (!StartLookupJob(request, port, type))
        return FailLookup(request, outcome, WSA_NOT_ENOUGH_MEMORY);
    return 1;
}

/* The program's own packets to the host keep their spacing: the service's
   is one more to the same server. */
static DWORD WaitBeforeService(TimeRequest *request)
{
    if (request->protocol != PROTOCOL_SNTP || !SameHostName(request->resolvedHost, request->host))
        return 0;
    DWORD wait = 0;
    DWORD now = GetTickCount();
    for (int i = 0; i < request->addresses.count; i++) {
        const ServerManners *manners = MannersOfAddress(&request->addresses.items[i]);
        DWORD since = manners != NULL ? now - manners->lastSendTick : 0;
        if (manners != NULL && manners->sent && since < SNTP_SPACING_MS
            && SNTP_SPACING_MS - since > wait)
            wait = SNTP_SPACING_MS - since;
    }
    return wait;
}

static int AskServiceNow(TimeRequest *request, RequestOutcome *outcome)
{
    ServiceWork work;
    memset(&work, 0, sizeof work);
    if (!MakeServiceRequest(request->host, request->protocol, request->serviceMode,
                            request->serviceLimit, &work.request)) {
        Note(outcome, FAILURE_SOCKET, WSAHOST_NOT_FOUND, "horavex: %s: unknown host",
             request->host);
        Finish(request, outcome, OUTCOME_FAILED);
        return 0;
    }
    if (StartJob(request, JOB_SERVICE, AskService, &work, sizeof work))
        return 1;
    Note(outcome, FAILURE_SOCKET, WSA_NOT_ENOUGH_MEMORY, "horavex: could not ask the service");
    Finish(request, outcome, OUTCOME_FAILED);
    return 0;
}

static int StartServiceExchange(TimeRequest *request, RequestOutcome *outcome)
{
    DWORD wait = WaitBeforeService(request);
    if (wait == 0)
        return AskServiceNow(request, outcome);
    request->waitingForService = 1;
    ArmTimer(request, wait);
    return 1;
}

int StartFetch(TimeRequest *request, HWND owner, const FetchOrder *order, RequestOutcome *outcome)
{
    StartOutcome(outcome);
    /* An older request ends here, so that its socket is not lost. */
    EndRequest(request);
    request->owner = owner;
    lstrcpynA(request->host, order->host, sizeof request->host);
    request->protocol = order->protocol == PROTOCOL_SNTP ? PROTOCOL_SNTP : PROTOCOL_TIME;
    request->port = order->port;
    request->periodMs = order->periodMs;
    /* Only a window waits for the service beside it. */
    request->viaService = order->viaService && owner != NULL;
    request->serviceMode = SERVICE_BY_POLICY;
    request->serviceLimit = 0;
    request->haveGivenAddresses = order->addresses != NULL;
    if (order->addresses != NULL)
        request->givenAddresses = *order->addresses;
    request->whyNotSet[0] = '\0';
    request->haveBest = 0;
    request->busy = 1;
    return StartExchange(request, outcome);
}

int AskServiceAgain(TimeRequest *request, HWND owner, const TimeSample *answered, int mode,
                    DWORD limit, RequestOutcome *outcome)
{
    StartOutcome(outcome);
    EndRequest(request);
    request->owner = owner;
    request->answered = *answered;
    lstrcpynA(request->host, answered->host, sizeof request->host);
    request->protocol = answered->precise ? PROTOCOL_SNTP : PROTOCOL_TIME;
    request->viaService = TRUE;
    request->serviceMode = mode;
    request->serviceLimit = limit;
    request->haveGivenAddresses = FALSE;
    request->whyNotSet[0] = '\0';
    request->busy = 1;
    request->startTick = GetTickCount();
    return AskServiceNow(request, outcome);
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
    return StartFetch(state->request, owner, &order, outcome);
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
    if (request->calibrationsLeft == 0 && request->whyNotSet[0] != '\0') {
        sample->setBy = CLOCK_BY_NOBODY;
        lstrcpynA(sample->whyNotSet, request->whyNotSet, sizeof sample->whyNotSet);
    }
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
    if (WSAGETSELECTERROR(lParam) != 0) {
        Note(outcome, FAILURE_CONNECTION, WSAGETSELECTERROR(lParam), "Error connecting to: %s",
             request->host);
        return AddressFailed(request, outcome);
    }
    switch (WSAGETSELECTEVENT(lParam)) {
    case FD_CONNECT:
        /* A server that accepts and never answers must not hold the
           request for ever: its four bytes have a time limit too. */
        DisarmTimer(request);
        request->connectTime = GetTickCount() - request->startTick;
        request->connected = 1;
        ArmTimer(request,
                 MoreAddressesFollow(request) ? ADDRESS_TIME_LIMIT_MS : TIME_REPLY_LIMIT_MS);
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

static void NoteVerdict(TimeRequest *request, RequestOutcome *outcome, SntpVerdict verdict,
                        const char *reason)
{
    char host[TEXT_BUFFER_SIZE];
    ShownHost(request, host, sizeof host);
    switch (verdict) {
    case SNTP_UNSYNCHRONISED:
        Note(outcome, FAILURE_EXCHANGE, 0, "Not synchronised: %s (%s)", host, reason);
        break;
    case SNTP_REFUSED:
        Note(outcome, FAILURE_EXCHANGE, 0, "Refused by: %s (%s): no more requests go to it",
             host, reason);
        break;
    case SNTP_SLOW_DOWN:
        Note(outcome, FAILURE_EXCHANGE, 0, "Asked to slow down by: %s (%s): no request for %lu s",
             host, reason, (unsigned long)(CurrentManners(request)->holdMs / 1000));
        break;
    case SNTP_UNCERTAIN:
        Note(outcome, FAILURE_EXCHANGE, 0, "Too uncertain: %s (%s)", host, reason);
        break;
    default:
        Note(outcome, FAILURE_EXCHANGE, 0, "Invalid reply from: %s (%s)", host, reason);
        break;
    }
}

static OutcomeKind OnSntpSocket(TimeRequest *request, LPARAM lParam, RequestOutcome *outcome)
{
    /* A port that nothing listens on comes back as an error of the socket. */
    if (WSAGETSELECTERROR(lParam) != 0) {
        NoteSocketError(request, outcome, WSAGETSELECTERROR(lParam));
        return AddressFailed(request, outcome);
    }
    if (WSAGETSELECTEVENT(lParam) != FD_READ)
        return Report(outcome, OUTCOME_WAITING);
    SntpReply reply;
    SntpMeasure measure;
    int socketError = 0;
    SntpVerdict verdict = ReceiveSntpReply(request->sock, &request->sntp, CurrentManners(request),
                                           request->periodMs, &reply, &measure, &socketError);
    if (socketError != 0)
        NoteSocketError(request, outcome, socketError);
    else if (verdict == SNTP_NOT_OURS)
        return Report(outcome, OUTCOME_WAITING);
    else if (verdict != SNTP_GOOD)
        NoteVerdict(request, outcome, verdict, reply.reason);
    if (socketError != 0 || verdict != SNTP_GOOD)
        return AddressFailed(request, outcome);
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
    if (window != NULL)
        KillTimer(window, REQUEST_TIMER_ID);
    if (!RequestOwnedBy(request, window) || !request->timerArmed)
        return OUTCOME_NOT_OURS;
    request->timerArmed = 0;
    if (request->waitingForService) {
        request->waitingForService = 0;
        return AskServiceNow(request, outcome) ? Report(outcome, OUTCOME_WAITING) : outcome->kind;
    }
    char host[TEXT_BUFFER_SIZE];
    ShownHost(request, host, sizeof host);
    if (request->waitingToSend) {
        if (SendPacket(request, CurrentManners(request), outcome))
            return Report(outcome, OUTCOME_WAITING);
    } else if (request->protocol == PROTOCOL_SNTP || request->connected) {
        Note(outcome, FAILURE_EXCHANGE, 0, "No answer from: %s", host);
    } else {
        Note(outcome, FAILURE_CONNECTION, WSAETIMEDOUT, "Error connecting to: %s", request->host);
    }
    return AddressFailed(request, outcome);
}

static OutcomeKind OnLookedUp(TimeRequest *request, BackgroundJob *job, RequestOutcome *outcome)
{
    int error = LookupResult(job, &request->addresses);
    if (TryResolvedAddresses(request, outcome, error))
        return Report(outcome, OUTCOME_WAITING);
    return outcome->kind;
}

/* The second answer, after "Big Change": the reading the person answered,
   with what the service then did; nothing pretends to have set the clock
   when it could not, and a change grown past what was accepted is left
   alone. */
static OutcomeKind OnServiceAnsweredAgain(TimeRequest *request, const ServiceWork *work,
                                          RequestOutcome *outcome)
{
    const ServiceAnswer *answer = &work->answer;
    TimeSample *sample = &outcome->sample;
    *sample = request->answered;
    if (work->trouble == SERVICE_ANSWERED && answer->result == SERVICE_NO_READING) {
        sample->setBy = CLOCK_BY_NOBODY;
        lstrcpynA(sample->whyNotSet, answer->text, sizeof sample->whyNotSet);
    } else if (work->trouble != SERVICE_ANSWERED || answer->result == SERVICE_REFUSED
               || answer->result == SERVICE_BUSY) {
        sample->setBy = CLOCK_BY_NOBODY;
        DescribeServiceTrouble(work->trouble, answer, sample->whyNotSet, sizeof sample->whyNotSet);
    } else {
        TakeServiceReading(answer, sample);
    }
    if (sample->setBy == CLOCK_BY_SERVICE && sample->serviceResult == SERVICE_ASK) {
        ApplyAdjustment(sample, ADJUST_LEAVE, sample->serviceMaxAdjust, 0);
        sample->serviceResult = SERVICE_LEFT;
    }
    return Finish(request, outcome, OUTCOME_READING);
}

/* The service's reading is the one that counts; a failed exchange is
   reported as the program's own would be.  A service that is not there,
   is not believed, refuses or is busy leaves the reading to the program,
   which then says why the clock was not set. */
static OutcomeKind OnServiceAnswered(TimeRequest *request, const ServiceWork *work,
                                     RequestOutcome *outcome)
{
    const ServiceAnswer *answer = &work->answer;
    if (request->serviceMode != SERVICE_BY_POLICY)
        return OnServiceAnsweredAgain(request, work, outcome);
    if (work->trouble != SERVICE_ANSWERED || answer->result == SERVICE_REFUSED
        || answer->result == SERVICE_BUSY) {
        DescribeServiceTrouble(work->trouble, answer, request->whyNotSet,
                               sizeof request->whyNotSet);
        request->viaService = FALSE;
        if (StartExchange(request, outcome))
            return Report(outcome, OUTCOME_WAITING);
        return outcome->kind;
    }
    if (answer->result == SERVICE_NO_READING) {
        Note(outcome, (FailureKind)answer->failure, (int)answer->error, "%s", answer->text);
        return Finish(request, outcome, OUTCOME_FAILED);
    }
    TakeServiceReading(answer, &outcome->sample);
    request->lag = outcome->sample.lag;
    lstrcpynA(outcome->sample.host, request->host, sizeof outcome->sample.host);
    return Finish(request, outcome, OUTCOME_READING);
}

static OutcomeKind OnJobDone(TimeRequest *request, HWND window, WPARAM tag,
                             RequestOutcome *outcome)
{
    if (!RequestOwnedBy(request, window) || request->job == NULL || tag != request->jobTag)
        return OUTCOME_NOT_OURS;
    const void *data = FinishedJobData(request->job);
    if (data == NULL)
        return Report(outcome, OUTCOME_WAITING);
    BackgroundJob *job = request->job;
    request->job = NULL;
    OutcomeKind kind = request->jobKind == JOB_SERVICE
                           ? OnServiceAnswered(request, (const ServiceWork *)data, outcome)
                           : OnLookedUp(request, job, outcome);
    ReleaseBackgroundJob(job);
    return kind;
}

OutcomeKind OnRequestMessage(TimeRequest *request, HWND window, UINT message, WPARAM wParam,
                             LPARAM lParam, RequestOutcome *outcome)
{
    StartOutcome(outcome);
    if (message == UM_SOCKET)
        return OnRequestSocket(request, window, wParam, lParam, outcome);
    if (message == UM_JOBDONE)
        return OnJobDone(request, window, wParam, outcome);
    if (message == WM_TIMER && wParam == REQUEST_TIMER_ID)
        return OnRequestTimer(request, window, outcome);
    return OUTCOME_NOT_OURS;
}

/* The events the socket signalled, in the order a window would get them. */
static OutcomeKind OnSocketEvents(TimeRequest *request, RequestOutcome *outcome)
{
    static const struct {
        long event;
        int bit;
    } order[] = {{FD_CONNECT, FD_CONNECT_BIT}, {FD_READ, FD_READ_BIT}, {FD_CLOSE, FD_CLOSE_BIT}};
    WSANETWORKEVENTS events;
    SOCKET signalled = request->sock;
    if (WSAEnumNetworkEvents(signalled, request->socketEvent, &events) != 0)
        return OUTCOME_WAITING;
    OutcomeKind kind = OUTCOME_WAITING;
    for (const auto &entry : order) {
        if ((events.lNetworkEvents & entry.event) == 0 || request->sock != signalled)
            continue;
        StartOutcome(outcome);
        kind = OnRequestSocket(request, NULL, (WPARAM)signalled,
                               WSAMAKESELECTREPLY(entry.event, events.iErrorCode[entry.bit]),
                               outcome);
        if (kind >= OUTCOME_READING)
            break;
    }
    return kind;
}

#define MOST_STOPS 4

/* The whole limit is up: the request ends, and says so. */
static OutcomeKind OutOfTime(TimeRequest *request, DWORD limitMs, RequestOutcome *outcome)
{
    char host[TEXT_BUFFER_SIZE];
    StartOutcome(outcome);
    Note(outcome, FAILURE_EXCHANGE, WSAETIMEDOUT, "No reading from: %s within %lu s",
         ShownHost(request, host, sizeof host), (unsigned long)((limitMs + 999) / 1000));
    return Finish(request, outcome, OUTCOME_FAILED);
}

OutcomeKind RunRequest(TimeRequest *request, const HANDLE *stops, int stopCount, DWORD limitMs,
                       RequestOutcome *outcome)
{
    DWORD deadline = GetTickCount() + limitMs;
    if (stopCount > MOST_STOPS)
        stopCount = MOST_STOPS;
    while (RequestOwnedBy(request, NULL)) {
        LONG left = (LONG)(deadline - GetTickCount());
        if (left <= 0)
            return OutOfTime(request, limitMs, outcome);
        DWORD wait = (DWORD)left;
        if (request->timerArmed) {
            LONG due = (LONG)(request->timerDue - GetTickCount());
            if (due < left)
                wait = due > 0 ? (DWORD)due : 0;
        }
        HANDLE handles[MOST_STOPS + 1];
        for (int i = 0; i < stopCount; i++)
            handles[i] = stops[i];
        BOOL watching = request->sock != INVALID_SOCKET && request->socketEvent != NULL;
        if (watching)
            handles[stopCount] = request->socketEvent;
        DWORD count = (DWORD)stopCount + (watching ? 1 : 0);
        DWORD woken = WAIT_TIMEOUT;
        if (count != 0)
            woken = WaitForMultipleObjects(count, handles, FALSE, wait);
        else
            Sleep(wait);
        OutcomeKind kind;
        if (woken < WAIT_OBJECT_0 + (DWORD)stopCount) {
            return StopRequest(request, outcome);
        } else if (woken == WAIT_TIMEOUT) {
            if (!request->timerArmed || (LONG)(request->timerDue - GetTickCount()) > 0)
                continue;
            StartOutcome(outcome);
            kind = OnRequestTimer(request, NULL, outcome);
        } else if (woken == WAIT_OBJECT_0 + (DWORD)stopCount) {
            kind = OnSocketEvents(request, outcome);
        } else {
            StartOutcome(outcome);
            Note(outcome, FAILURE_SOCKET, (int)GetLastError(), "horavex: could not wait");
            return Finish(request, outcome, OUTCOME_FAILED);
        }
        if (kind >= OUTCOME_READING)
            return kind;
    }
    return outcome->kind;
}

OutcomeKind StopRequest(TimeRequest *request, RequestOutcome *outcome)
{
    StartOutcome(outcome);
    if (!RequestRunning(request))
        return OUTCOME_NOT_OURS;
    return Finish(request, outcome, OUTCOME_STOPPED);
}

SOCKET OpenTimeSocket(const char *host, DWORD port, const char *service,
                      SOCKADDR_STORAGE *address, char *step, size_t stepSize)
{
    ServerAddresses addresses;
    if (port == 0) {
        const struct servent *entry = getservbyname(service, "tcp");
        if (entry == NULL) {
            FormatText(step, stepSize, "horavex: getservbyname failed");
            return INVALID_SOCKET;
        }
        port = ntohs((u_short)entry->s_port);
    }
    int error = ResolveServer(host, (u_short)port, SOCK_STREAM, &addresses);
    if (error != 0) {
        char shown[TEXT_BUFFER_SIZE];
        CopyPrintable(shown, sizeof shown, host);
        FormatText(step, stepSize, "horavex: %s: unknown host", shown);
        WSASetLastError(error);
        return INVALID_SOCKET;
    }
    *address = addresses.items[0];
    SOCKET timeSocket = socket(address->ss_family, SOCK_STREAM, IPPROTO_TCP);
    if (timeSocket == INVALID_SOCKET)
        FormatText(step, stepSize, "horavex: could not get socket");
    return timeSocket;
}
