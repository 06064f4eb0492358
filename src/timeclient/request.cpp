/* The request engine: one fetch's whole life, its exchanges in rounds,
   the choice of its reading, the time service's part, and its one
   outcome. */
#include "timeclient/fetchrecord.h"

#include <stdlib.h>
#include <string.h>

#include "base/precisetime.h"
#include "base/textfmt.h"
#include "timeclient/adjustlimit.h"
#include "timeclient/clock.h"

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

TimeRequest *NewTimeRequest(void)
{
    return (TimeRequest *)calloc(1, sizeof(TimeRequest));
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
    return request != NULL && request->phase != FETCH_AT_REST;
}

BOOL RequestOwnedBy(const TimeRequest *request, HWND window)
{
    return RequestRunning(request) && request->context == (void *)window;
}

void SetCalibrationsDue(TimeRequest *request, DWORD count)
{
    request->calibrationsLeft = count;
}

DWORD CalibrationsDue(const TimeRequest *request)
{
    return request->calibrationsLeft;
}

SOCKET ExchangeSocket(const TimeRequest *request)
{
    if (!RequestRunning(request) || request->sources != 1 || request->exchangeCount == 0)
        return INVALID_SOCKET;
    return request->exchanges[0].sock;
}

WPARAM NextTag(TimeRequest *request)
{
    return ++request->nextTag;
}

void ResetOutcome(RequestOutcome *outcome)
{
    outcome->kind = OUTCOME_NOT_OURS;
    outcome->failure = FAILURE_NONE;
    outcome->socketError = 0;
    outcome->report[0] = '\0';
    memset(&outcome->sample, 0, sizeof outcome->sample);
}

static void DisarmFetchTimer(TimeRequest *request)
{
    if (request->timerArmed && request->transport != NULL)
        request->transport->disarmTimer(request->context);
    request->timerArmed = FALSE;
}

/* The one timer means one thing: the earliest deadline of the fetch. */
void ArmFetchTimer(TimeRequest *request)
{
    BOOL due = FALSE;
    DWORD now = GetTickCount();
    LONG soonest = 0;
    if (request->phase == FETCH_SPACING) {
        due = TRUE;
        soonest = (LONG)(request->serviceDue - now);
    }
    for (int i = 0; request->phase == FETCH_EXCHANGING && i < request->exchangeCount; i++) {
        const Exchange *exchange = &request->exchanges[i];
        if (!exchange->hasDue || !ExchangeWaits(exchange))
            continue;
        LONG left = (LONG)(exchange->due - now);
        if (!due || left < soonest)
            soonest = left;
        due = TRUE;
    }
    if (!due) {
        DisarmFetchTimer(request);
        return;
    }
    DWORD ms = soonest > 0 ? (DWORD)soonest : 0;
    /* A timer due sooner stays: it finds nothing due, and comes again. */
    if (request->timerArmed && (LONG)(request->timerDue - (now + ms)) <= 0)
        return;
    request->timerArmed = TRUE;
    request->timerDue = now + ms;
    request->transport->armTimer(request->context, ms);
}

void EndRequest(TimeRequest *request)
{
    FetchPhase was = request->phase;
    /* From here on nothing re-arms the timer. */
    request->phase = FETCH_AT_REST;
    for (int i = 0; was != FETCH_AT_REST && i < request->exchangeCount; i++)
        CloseExchange(request, &request->exchanges[i]);
    ReleaseBackgroundJob(request->hostLookup);
    request->hostLookup = NULL;
    ReleaseBackgroundJob(request->serviceJob);
    request->serviceJob = NULL;
    DisarmFetchTimer(request);
}

OutcomeKind FinishFetch(TimeRequest *request, RequestOutcome *outcome, OutcomeKind kind)
{
    EndRequest(request);
    outcome->kind = kind;
    return kind;
}

static void CopyFailure(RequestOutcome *outcome, const Exchange *exchange)
{
    outcome->failure = exchange->failure;
    outcome->socketError = exchange->socketError;
    lstrcpynA(outcome->report, exchange->report, sizeof outcome->report);
}

static BOOL CandidatesLeft(const TimeRequest *request)
{
    return request->nextHostAddress < request->hostAddresses.count
           || request->nextEntry < request->listCount;
}

BOOL OthersMayFollow(const TimeRequest *request, const Exchange *)
{
    return request->sources > 1 && request->round == 1 && CandidatesLeft(request);
}

static int CountInPhase(const TimeRequest *request, BOOL (*test)(const Exchange *))
{
    int count = 0;
    for (int i = 0; i < request->exchangeCount; i++)
        if (test(&request->exchanges[i]))
            count++;
    return count;
}

static BOOL IsAnswered(const Exchange *exchange)
{
    return exchange->phase == PHASE_ANSWERED;
}

static Exchange *NewExchange(TimeRequest *request, const char *name, BOOL walks)
{
    if (request->exchangeCount == MOST_EXCHANGES)
        return NULL;
    Exchange *exchange = &request->exchanges[request->exchangeCount++];
    memset(exchange, 0, sizeof *exchange);
    exchange->sock = INVALID_SOCKET;
    exchange->walks = walks;
    lstrcpynA(exchange->name, name, sizeof exchange->name);
    lstrcpynA(exchange->keName, name, sizeof exchange->keName);
    return exchange;
}

static void LookupKind(const TimeRequest *request, u_short *port, int *type)
{
    BOOL sntp = request->protocol == PROTOCOL_SNTP;
    *port = sntp                                    ? SNTP_PORT
            : request->protocol == PROTOCOL_NTS ? NTS_KE_PORT
                                                    : (u_short)request->port;
    *type = sntp ? SOCK_DGRAM : SOCK_STREAM;
}

/* A name is looked up in a thread of its own, so that the windows stay
   responsive; an address as written, and a fetch without a window, need
   no wait. */
static BOOL LooksUpBeside(const TimeRequest *request, const char *name)
{
    return request->transport->workDone != NULL && !IsAddressLiteral(name);
}

static void FailLookup(Exchange *exchange, int error)
{
    char shown[TEXT_BUFFER_SIZE];
    CopyPrintable(shown, sizeof shown, exchange->name);
    FailExchange(exchange, FAILURE_SOCKET, error, "horavex: %s: unknown host", shown);
    exchange->phase = PHASE_FAILED;
}

/* The addresses of the fetch's host, which the service's spacing follows. */
static void RememberAddresses(TimeRequest *request, const ServerAddresses *addresses)
{
    request->lastAddresses = *addresses;
    lstrcpynA(request->lastAddressesHost, request->host, sizeof request->lastAddressesHost);
}

/* An exchange of a name: its addresses given, looked up at once, or
   looked up beside the owner. */
static void StartNamedExchange(TimeRequest *request, Exchange *exchange,
                               const ServerAddresses *given, RequestOutcome *outcome)
{
    u_short port;
    int type;
    LookupKind(request, &port, &type);
    exchange->addressIndex = 0;
    if (given != NULL) {
        exchange->addresses = *given;
        if (given->count == 0)
            FailLookup(exchange, WSAHOST_NOT_FOUND);
        else
            StartExchangeAt(request, exchange, outcome);
        return;
    }
    if (!LooksUpBeside(request, exchange->name)) {
        int error = ResolveServer(exchange->name, port, type, &exchange->addresses);
        if (error != 0)
            FailLookup(exchange, error);
        else
            StartExchangeAt(request, exchange, outcome);
        return;
    }
    exchange->phase = PHASE_RESOLVING;
    exchange->jobTag = NextTag(request);
    exchange->job = StartLookup(exchange->name, port, type, request->transport->workDone,
                                request->context, exchange->jobTag);
    if (exchange->job == NULL)
        FailLookup(exchange, WSA_NOT_ENOUGH_MEMORY);
}

/* The next server of a several-server fetch: an address of the host, then
   an entry of the host list. */
static void StartNextCandidate(TimeRequest *request, RequestOutcome *outcome)
{
    if (request->nextHostAddress < request->hostAddresses.count) {
        int index = request->nextHostAddress++;
        char text[SOURCE_ADDRESS_SIZE];
        AddressText(&request->hostAddresses.items[index], text, sizeof text);
        Exchange *exchange = NewExchange(request, text, FALSE);
        if (exchange == NULL)
            return;
        /* Each address of a pool serves the one name's certificate. */
        lstrcpynA(exchange->keName, request->host, sizeof exchange->keName);
        exchange->addresses.count = 1;
        exchange->addresses.items[0] = request->hostAddresses.items[index];
        exchange->addresses.lengths[0] = request->hostAddresses.lengths[index];
        StartExchangeAt(request, exchange, outcome);
        return;
    }
    int entry = request->nextEntry++;
    Exchange *exchange = NewExchange(request, request->list[entry], TRUE);
    if (exchange != NULL)
        StartNamedExchange(request, exchange,
                           request->haveListAddresses ? &request->listAddresses[entry] : NULL,
                           outcome);
}

/* While fewer than the servers asked for answer or wait, the next one
   joins. */
static void FillExchanges(TimeRequest *request, RequestOutcome *outcome)
{
    while (CountInPhase(request, ExchangeWaits) + CountInPhase(request, IsAnswered)
               < request->sources
           && CandidatesLeft(request) && request->exchangeCount < MOST_EXCHANGES)
        StartNextCandidate(request, outcome);
}

static void OnHostAddresses(TimeRequest *request, int error, RequestOutcome *outcome)
{
    request->phase = FETCH_EXCHANGING;
    request->nextHostAddress = 0;
    if (error != 0) {
        request->hostAddresses.count = 0;
        Exchange *exchange = NewExchange(request, request->host, TRUE);
        if (exchange != NULL)
            FailLookup(exchange, error);
    } else {
        RememberAddresses(request, &request->hostAddresses);
    }
    FillExchanges(request, outcome);
}

/* Several servers, their first round: the host's own addresses first. */
static void StartChoosing(TimeRequest *request, RequestOutcome *outcome)
{
    u_short port;
    int type;
    LookupKind(request, &port, &type);
    if (request->haveGivenAddresses) {
        request->hostAddresses = request->givenAddresses;
        OnHostAddresses(request, request->hostAddresses.count != 0 ? 0 : WSAHOST_NOT_FOUND,
                        outcome);
        return;
    }
    if (!LooksUpBeside(request, request->host)) {
        OnHostAddresses(request, ResolveServer(request->host, port, type, &request->hostAddresses),
                        outcome);
        return;
    }
    request->phase = FETCH_LOOKING_UP;
    request->hostLookupTag = NextTag(request);
    request->hostLookup = StartLookup(request->host, port, type, request->transport->workDone,
                                      request->context, request->hostLookupTag);
    if (request->hostLookup == NULL)
        OnHostAddresses(request, WSA_NOT_ENOUGH_MEMORY, outcome);
}

/* One server: each round resolves and connects afresh, and the exchange
   keeps its best reading across them. */
static void StartSingleRound(TimeRequest *request, RequestOutcome *outcome)
{
    Exchange *exchange = &request->exchanges[0];
    if (request->exchangeCount == 0)
        NewExchange(request, request->host, TRUE);
    lstrcpynA(exchange->name, request->host, sizeof exchange->name);
    exchange->failure = FAILURE_NONE;
    exchange->report[0] = '\0';
    StartNamedExchange(request, exchange,
                       request->haveGivenAddresses ? &request->givenAddresses : NULL, outcome);
    if (exchange->phase != PHASE_RESOLVING && exchange->addresses.count > 0)
        RememberAddresses(request, &exchange->addresses);
}

/* Several servers, a calibration round: every server chosen is asked
   again, at the address it answered on. */
static void StartAgainAtChosen(TimeRequest *request, RequestOutcome *outcome)
{
    for (int i = 0; i < request->exchangeCount; i++) {
        Exchange *exchange = &request->exchanges[i];
        if (!exchange->haveBest)
            continue;
        exchange->addressIndex = 0;
        StartExchangeAt(request, exchange, outcome);
    }
}

static void StartServiceExchange(TimeRequest *request, RequestOutcome *outcome);

static void StartRound(TimeRequest *request, RequestOutcome *outcome)
{
    request->startTick = GetTickCount();
    if (request->viaService && request->calibrationsLeft == 0) {
        StartServiceExchange(request, outcome);
        return;
    }
    BOOL first = request->exchangeCount == 0;
    request->round = first ? 1 : request->round + 1;
    request->phase = FETCH_EXCHANGING;
    if (request->sources == 1)
        StartSingleRound(request, outcome);
    else if (first)
        StartChoosing(request, outcome);
    else
        StartAgainAtChosen(request, outcome);
}

/* The reading a one-server fetch ends with: of an SNTP server the best
   of its rounds. */
static void TakeSingleReading(const Exchange *exchange, RequestOutcome *outcome)
{
    TimeSample *sample = &outcome->sample;
    *sample = exchange->sample;
    if (sample->precise) {
        sample->offset = exchange->best.offset;
        sample->delay = exchange->bestDelay;
        sample->lag = (DWORD)TicksToMs(exchange->bestDelay);
    }
}

static void NoteWhyNotSet(const TimeRequest *request, TimeSample *sample)
{
    lstrcpynA(sample->host, request->host, sizeof sample->host);
    if (request->whyNotSet[0] != '\0') {
        sample->setBy = CLOCK_BY_NOBODY;
        lstrcpynA(sample->whyNotSet, request->whyNotSet, sizeof sample->whyNotSet);
    }
}

/* Each server asked, as the reading reports it. */
static void ReportSources(const TimeRequest *request, const Selection *selection,
                          const int *candidateOf, TimeSample *sample)
{
    sample->sourceCount = 0;
    for (int i = 0; i < request->exchangeCount && sample->sourceCount < MOST_SOURCES; i++) {
        const Exchange *exchange = &request->exchanges[i];
        if (exchange->duplicate)
            continue;
        SourceReport *source = &sample->sources[sample->sourceCount++];
        if (exchange->addresses.count > 0) {
            int index = exchange->addressIndex < exchange->addresses.count ? exchange->addressIndex
                                                                           : 0;
            AddressText(&exchange->addresses.items[index], source->address,
                        sizeof source->address);
        } else {
            CopyPrintable(source->address, sizeof source->address, exchange->name);
        }
        source->offset = exchange->best.offset;
        if (!exchange->haveBest)
            source->state = SOURCE_FAILED;
        else if (candidateOf[i] >= 0 && selection->truechimer[candidateOf[i]])
            source->state = SOURCE_TAKEN;
        else
            source->state = SOURCE_LEFT_OUT;
    }
    sample->sourcesAnswered = selection->answered;
    sample->sourcesAgreeing = selection->verdict == SELECTION_AGREED ? selection->agreeing : 0;
}

/* "127.0.7.1 +0.001 s, 127.0.7.4 +30.000 s": the answers, for a failure. */
static void ListAnswers(const TimeSample *sample, char *text, size_t size)
{
    size_t used = 0;
    text[0] = '\0';
    for (int i = 0; i < sample->sourceCount && used + 1 < size; i++) {
        const SourceReport *source = &sample->sources[i];
        if (source->state == SOURCE_FAILED)
            continue;
        char seconds[32];
        FormatSignedSeconds(source->offset, seconds, sizeof seconds);
        used += (size_t)FormatText(text + used, size - used, "%s%s %s s", used == 0 ? "" : ", ",
                                   source->address, seconds);
    }
}

static OutcomeKind FailSeveral(TimeRequest *request, const Selection *selection,
                               RequestOutcome *outcome)
{
    char answers[TEXT_BUFFER_SIZE];
    const TimeSample *sample = &outcome->sample;
    int asked = sample->sourceCount;
    ListAnswers(sample, answers, sizeof answers);
    outcome->failure = FAILURE_EXCHANGE;
    outcome->socketError = 0;
    if (selection->answered == 0) {
        /* The last server's own failure, as one server's would read. */
        for (int i = request->exchangeCount - 1; i >= 0; i--)
            if (!request->exchanges[i].duplicate) {
                CopyFailure(outcome, &request->exchanges[i]);
                break;
            }
        if (asked > 1) {
            size_t length = strlen(outcome->report);
            FormatText(outcome->report + length, sizeof outcome->report - length,
                       ", %d servers asked", asked);
        }
    } else if (selection->verdict == SELECTION_TOO_FEW) {
        FormatText(outcome->report, sizeof outcome->report,
                   "Too few answers: %d of %d servers answered (%s)", selection->answered, asked,
                   answers);
    } else {
        FormatText(outcome->report, sizeof outcome->report,
                   "No agreement: %d servers answered, at most %d agree (%s)",
                   selection->answered, selection->agreeing, answers);
    }
    return FinishFetch(request, outcome, OUTCOME_FAILED);
}

/* Several servers: the reading of those that agree, or nothing. */
static OutcomeKind TakeSeveralReading(TimeRequest *request, RequestOutcome *outcome)
{
    SelectionCandidate candidates[MOST_SOURCES];
    int candidateOf[MOST_EXCHANGES];
    int count = 0;
    for (int i = 0; i < request->exchangeCount; i++) {
        const Exchange *exchange = &request->exchanges[i];
        candidateOf[i] = -1;
        if (exchange->duplicate || !exchange->haveBest || count == MOST_SOURCES)
            continue;
        candidateOf[i] = count;
        candidates[count++] = exchange->best;
    }
    Selection selection;
    SelectReading(candidates, count, ClockReadingPrecision(), &selection);
    TimeSample *sample = &outcome->sample;
    memset(sample, 0, sizeof *sample);
    ReportSources(request, &selection, candidateOf, sample);
    if (selection.verdict != SELECTION_AGREED)
        return FailSeveral(request, &selection, outcome);
    sample->precise = TRUE;
    sample->offset = selection.offset;
    sample->delay = selection.delay;
    sample->lag = (DWORD)TicksToMs(selection.delay);
    BOOL first = TRUE;
    sample->authenticated = TRUE;
    for (int i = 0; i < request->exchangeCount; i++) {
        const Exchange *exchange = &request->exchanges[i];
        if (candidateOf[i] < 0 || !selection.truechimer[candidateOf[i]])
            continue;
        sample->authenticated &= exchange->sample.authenticated;
        /* The clock as the freshest of them read it; the soonest packet. */
        if (first || exchange->sample.localClock > sample->localClock)
            sample->localClock = exchange->sample.localClock;
        if (first || exchange->connectTime < sample->connectTime)
            sample->connectTime = exchange->connectTime;
        first = FALSE;
    }
    NoteWhyNotSet(request, sample);
    return FinishFetch(request, outcome, OUTCOME_READING);
}

/* The smallest round trip of the round just ended, for its calibration. */
static DWORD RoundLag(const TimeRequest *request)
{
    BOOL any = FALSE;
    DWORD lag = 0;
    for (int i = 0; i < request->exchangeCount; i++) {
        const Exchange *exchange = &request->exchanges[i];
        if (exchange->phase == PHASE_ANSWERED && (!any || exchange->sample.lag < lag)) {
            lag = exchange->sample.lag;
            any = TRUE;
        }
    }
    return lag;
}

/* A calibration: the next round starts at once, the owner hears of its
   lag; a next round that ends at once says how instead. */
static void Calibrate(TimeRequest *request, const TimeSample *shown, RequestOutcome *outcome)
{
    request->calibrationsLeft--;
    RequestOutcome next;
    ResetOutcome(&next);
    next.kind = OUTCOME_WAITING;
    StartRound(request, &next);
    OnExchangeSettled(request, &next);
    if (next.kind >= OUTCOME_READING) {
        *outcome = next;
        return;
    }
    outcome->sample = *shown;
    outcome->kind = OUTCOME_CALIBRATION;
}

static void EndRound(TimeRequest *request, RequestOutcome *outcome)
{
    if (request->sources == 1) {
        const Exchange *exchange = &request->exchanges[0];
        if (exchange->phase != PHASE_ANSWERED) {
            CopyFailure(outcome, exchange);
            FinishFetch(request, outcome,
                        exchange->failure == FAILURE_NONE ? OUTCOME_NO_READING : OUTCOME_FAILED);
            return;
        }
        TimeSample sample = exchange->sample;
        NoteWhyNotSet(request, &sample);
        if (request->calibrationsLeft > 0) {
            Calibrate(request, &sample, outcome);
            return;
        }
        TakeSingleReading(exchange, outcome);
        NoteWhyNotSet(request, &outcome->sample);
        FinishFetch(request, outcome, OUTCOME_READING);
        return;
    }
    int answered = 0;
    for (int i = 0; i < request->exchangeCount; i++)
        if (request->exchanges[i].haveBest && !request->exchanges[i].duplicate)
            answered++;
    if (request->calibrationsLeft > 0 && answered >= 2) {
        TimeSample shown;
        memset(&shown, 0, sizeof shown);
        shown.precise = TRUE;
        shown.lag = RoundLag(request);
        lstrcpynA(shown.host, request->host, sizeof shown.host);
        Calibrate(request, &shown, outcome);
        return;
    }
    TakeSeveralReading(request, outcome);
}

/* After anything that happened to an exchange: more servers join, or the
   round ends when none waits any more. */
void OnExchangeSettled(TimeRequest *request, RequestOutcome *outcome)
{
    if (outcome->kind >= OUTCOME_READING || request->phase != FETCH_EXCHANGING)
        return;
    if (request->sources == 1) {
        if (!ExchangeWaits(&request->exchanges[0]))
            EndRound(request, outcome);
        return;
    }
    if (request->round == 1)
        FillExchanges(request, outcome);
    if (CountInPhase(request, ExchangeWaits) == 0)
        EndRound(request, outcome);
}

/* The program's own packets to the host keep their spacing: the service's
   is one more to the same server. */
static DWORD WaitBeforeService(const TimeRequest *request)
{
    if (request->protocol != PROTOCOL_SNTP
        || !SameHostName(request->lastAddressesHost, request->host))
        return 0;
    DWORD wait = 0;
    DWORD now = GetTickCount();
    for (int i = 0; i < request->lastAddresses.count; i++) {
        const ServerManners *manners = MannersOfAddress(&request->lastAddresses.items[i]);
        DWORD since = manners != NULL ? now - manners->lastSendTick : 0;
        if (manners != NULL && manners->sent && since < SNTP_SPACING_MS
            && SNTP_SPACING_MS - since > wait)
            wait = SNTP_SPACING_MS - since;
    }
    return wait;
}

static void AskServiceNow(TimeRequest *request, RequestOutcome *outcome)
{
    ServiceWork work;
    memset(&work, 0, sizeof work);
    request->phase = FETCH_ASKING;
    if (!MakeServiceRequest(request->host, request->protocol, request->serviceMode,
                            request->serviceLimit, &work.request)) {
        FormatText(outcome->report, sizeof outcome->report, "horavex: %s: unknown host",
                   request->host);
        outcome->failure = FAILURE_SOCKET;
        outcome->socketError = WSAHOST_NOT_FOUND;
        FinishFetch(request, outcome, OUTCOME_FAILED);
        return;
    }
    request->serviceTag = NextTag(request);
    request->serviceJob = StartBackgroundJob(AskService, &work, sizeof work,
                                             request->transport->workDone, request->context,
                                             request->serviceTag);
    if (request->serviceJob != NULL)
        return;
    FormatText(outcome->report, sizeof outcome->report, "horavex: could not ask the service");
    outcome->failure = FAILURE_SOCKET;
    outcome->socketError = WSA_NOT_ENOUGH_MEMORY;
    FinishFetch(request, outcome, OUTCOME_FAILED);
}

/* The reading that counts, asked of the time service beside the window,
   after the program's own spacing to the host. */
static void StartServiceExchange(TimeRequest *request, RequestOutcome *outcome)
{
    DWORD wait = WaitBeforeService(request);
    if (wait == 0) {
        AskServiceNow(request, outcome);
        return;
    }
    request->phase = FETCH_SPACING;
    request->serviceDue = GetTickCount() + wait;
    ArmFetchTimer(request);
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
    return FinishFetch(request, outcome, OUTCOME_READING);
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
        outcome->kind = OUTCOME_WAITING;
        StartRound(request, outcome);
        OnExchangeSettled(request, outcome);
        return outcome->kind;
    }
    if (answer->result == SERVICE_NO_READING) {
        outcome->failure = (FailureKind)answer->failure;
        outcome->socketError = (int)answer->error;
        lstrcpynA(outcome->report, answer->text, sizeof outcome->report);
        return FinishFetch(request, outcome, OUTCOME_FAILED);
    }
    TakeServiceReading(answer, &outcome->sample);
    lstrcpynA(outcome->sample.host, request->host, sizeof outcome->sample.host);
    return FinishFetch(request, outcome, OUTCOME_READING);
}

/* The protocol setting: any value but SNTP's and NTS's is the Time
   protocol's. */
static int KnownProtocol(int protocol)
{
    return protocol == PROTOCOL_SNTP || protocol == PROTOCOL_NTS ? protocol : PROTOCOL_TIME;
}

static void CopyOrder(TimeRequest *request, const FetchOrder *order)
{
    lstrcpynA(request->host, order->host, sizeof request->host);
    request->protocol = KnownProtocol(order->protocol);
    request->port = order->port;
    request->periodMs = order->periodMs;
    request->sources = order->sources;
    if (request->protocol == PROTOCOL_TIME || request->sources < 1
        || request->sources > MOST_SOURCE_SETTING)
        request->sources = 1;
    lstrcpynA(request->ntsTrust, order->ntsTrust != NULL ? order->ntsTrust : "",
              sizeof request->ntsTrust);
    request->haveGivenAddresses = order->addresses != NULL;
    if (order->addresses != NULL)
        request->givenAddresses = *order->addresses;
    request->listCount = 0;
    request->haveListAddresses = order->entryAddresses != NULL;
    for (int i = 0; request->sources > 1 && order->hosts != NULL && i < order->hosts->itemCount
                    && request->listCount < MOST_EXCHANGES;
         i++) {
        const char *entry = order->hosts->items[i];
        if (entry == NULL || entry[0] == '\0' || SameHostName(entry, request->host))
            continue;
        if (order->entryAddresses != NULL)
            request->listAddresses[request->listCount] = order->entryAddresses[i];
        lstrcpynA(request->list[request->listCount++], entry, TEXT_BUFFER_SIZE);
    }
}

/* Ready for a new fetch: nothing of the old one but its manners and the
   calibrations it left. */
static void ResetFetch(TimeRequest *request, const RequestTransport *transport, void *context)
{
    EndRequest(request);
    request->transport = transport;
    request->context = context;
    request->exchangeCount = 0;
    request->askedCount = 0;
    request->round = 0;
    request->nextEntry = 0;
    request->nextHostAddress = 0;
    request->hostAddresses.count = 0;
    request->serviceMode = SERVICE_BY_POLICY;
    request->serviceLimit = 0;
    request->whyNotSet[0] = '\0';
}

int StartFetchWith(TimeRequest *request, const RequestTransport *transport, void *context,
                   const FetchOrder *order, RequestOutcome *outcome)
{
    ResetOutcome(outcome);
    /* An older fetch ends here, so that its sockets are not lost. */
    ResetFetch(request, transport, context);
    CopyOrder(request, order);
    /* Only a window waits for the service beside it. */
    request->viaService = order->viaService && transport->workDone != NULL;
    outcome->kind = OUTCOME_WAITING;
    StartRound(request, outcome);
    OnExchangeSettled(request, outcome);
    return RequestRunning(request) ? 1 : 0;
}

int StartServiceAgainWith(TimeRequest *request, const RequestTransport *transport,
                          void *context, const TimeSample *answered, int mode, DWORD limit,
                          RequestOutcome *outcome)
{
    ResetOutcome(outcome);
    ResetFetch(request, transport, context);
    request->answered = *answered;
    lstrcpynA(request->host, answered->host, sizeof request->host);
    request->protocol = answered->authenticated ? PROTOCOL_NTS
                        : answered->precise      ? PROTOCOL_SNTP
                                                 : PROTOCOL_TIME;
    request->sources = 1;
    request->listCount = 0;
    request->haveGivenAddresses = FALSE;
    request->viaService = TRUE;
    request->serviceMode = mode;
    request->serviceLimit = limit;
    request->startTick = GetTickCount();
    outcome->kind = OUTCOME_WAITING;
    AskServiceNow(request, outcome);
    return RequestRunning(request) ? 1 : 0;
}

static Exchange *ExchangeOfSocket(TimeRequest *request, SOCKET sock)
{
    for (int i = 0; sock != INVALID_SOCKET && i < request->exchangeCount; i++)
        if (request->exchanges[i].sock == sock)
            return &request->exchanges[i];
    return NULL;
}

/* An event that was the fetch's, and needs nothing more yet, is waiting. */
static OutcomeKind Settle(TimeRequest *request, RequestOutcome *outcome)
{
    if (outcome->kind == OUTCOME_NOT_OURS)
        outcome->kind = OUTCOME_WAITING;
    OnExchangeSettled(request, outcome);
    return outcome->kind;
}

OutcomeKind OnFetchSocket(TimeRequest *request, SOCKET sock, long event, int error,
                          RequestOutcome *outcome)
{
    Exchange *exchange = RequestRunning(request) ? ExchangeOfSocket(request, sock) : NULL;
    if (exchange == NULL)
        return OUTCOME_NOT_OURS;
    outcome->kind = OUTCOME_WAITING;
    OnExchangeSocket(request, exchange, event, error, outcome);
    return Settle(request, outcome);
}

OutcomeKind OnFetchTimer(TimeRequest *request, RequestOutcome *outcome)
{
    if (!RequestRunning(request) || !request->timerArmed)
        return OUTCOME_NOT_OURS;
    request->timerArmed = FALSE;
    outcome->kind = OUTCOME_WAITING;
    DWORD now = GetTickCount();
    if (request->phase == FETCH_SPACING) {
        if ((LONG)(request->serviceDue - now) <= 0)
            AskServiceNow(request, outcome);
        else
            ArmFetchTimer(request);
        return outcome->kind;
    }
    for (int i = 0; i < request->exchangeCount && request->phase == FETCH_EXCHANGING; i++) {
        Exchange *exchange = &request->exchanges[i];
        if (exchange->hasDue && ExchangeWaits(exchange) && (LONG)(exchange->due - now) <= 0)
            OnExchangeDue(request, exchange, outcome);
    }
    Settle(request, outcome);
    if (RequestRunning(request) && !request->timerArmed)
        ArmFetchTimer(request);
    return outcome->kind;
}

OutcomeKind OnFetchWorkDone(TimeRequest *request, WPARAM tag, RequestOutcome *outcome)
{
    if (!RequestRunning(request) || tag == 0)
        return OUTCOME_NOT_OURS;
    outcome->kind = OUTCOME_WAITING;
    if (request->hostLookup != NULL && tag == request->hostLookupTag) {
        ServerAddresses addresses;
        int error = LookupResult(request->hostLookup, &addresses);
        if (error == WSAEINPROGRESS)
            return outcome->kind;
        ReleaseBackgroundJob(request->hostLookup);
        request->hostLookup = NULL;
        request->hostAddresses = addresses;
        OnHostAddresses(request, error, outcome);
        return Settle(request, outcome);
    }
    if (request->serviceJob != NULL && tag == request->serviceTag) {
        const void *data = FinishedJobData(request->serviceJob);
        if (data == NULL)
            return outcome->kind;
        BackgroundJob *job = request->serviceJob;
        request->serviceJob = NULL;
        OutcomeKind kind = OnServiceAnswered(request, (const ServiceWork *)data, outcome);
        ReleaseBackgroundJob(job);
        return kind;
    }
    for (int i = 0; i < request->exchangeCount; i++) {
        Exchange *exchange = &request->exchanges[i];
        if (exchange->job == NULL || tag != exchange->jobTag)
            continue;
        if (FinishedJobData(exchange->job) == NULL)
            return outcome->kind;
        if (exchange->phase == PHASE_KEYING)
            OnExchangeKeyed(request, exchange, outcome);
        else
            OnExchangeLookedUp(request, exchange, outcome);
        if (request->sources == 1 && exchange->addresses.count > 0)
            RememberAddresses(request, &exchange->addresses);
        return Settle(request, outcome);
    }
    return OUTCOME_NOT_OURS;
}

OutcomeKind StopRequest(TimeRequest *request, RequestOutcome *outcome)
{
    ResetOutcome(outcome);
    if (!RequestRunning(request))
        return OUTCOME_NOT_OURS;
    return FinishFetch(request, outcome, OUTCOME_STOPPED);
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
