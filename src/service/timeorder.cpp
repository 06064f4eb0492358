#include "service/timeorder.h"

#include <stdlib.h>
#include <string.h>

#include "base/appstate.h"
#include "base/stringlist.h"
#include "base/textfmt.h"
#include "persist/settings.h"
#include "timeclient/adjustlimit.h"
#include "timeclient/clock.h"
#include "timeclient/ntsjar.h"
#include "timeclient/ntske.h"
#include "timeclient/request.h"
#include "timeclient/resolve.h"
#include "timeclient/sntp.h"
#include "timeclient/timeproto.h"

/* Why the service ended a wait. */
enum Waited { WAITED_DONE, WAITED_STOPPING, WAITED_GONE, WAITED_OUT };

/* One exchange at a time, with the manners the service keeps for every
   client: a semaphore, since a client waits for it only until its own
   deadline.  The settings are read one client at a time (through shared
   text), and never under the exchange's lock. */
static HANDLE exchangeLock;
static CRITICAL_SECTION settingsLock;
static TimeRequest *serviceRequest;

BOOL StartTimeOrders(void)
{
    InitializeCriticalSection(&settingsLock);
    exchangeLock = CreateSemaphoreA(NULL, 1, 1, NULL);
    serviceRequest = NewTimeRequest();
    return exchangeLock != NULL && serviceRequest != NULL;
}

void EndTimeOrders(void)
{
    FreeTimeRequest(serviceRequest);
    serviceRequest = NULL;
    ForgetNtsServers();
    if (exchangeLock != NULL)
        CloseHandle(exchangeLock);
    exchangeLock = NULL;
    DeleteCriticalSection(&settingsLock);
}

/* The work of one request: its end, and what ends it early. */
struct Order {
    const ServiceRequest *request;
    DWORD startTick;
    HANDLE stops[2];
    int protocol;
};

static DWORD TimeLeft(const Order *order)
{
    DWORD spent = GetTickCount() - order->startTick;
    return spent < SERVICE_DEADLINE_MS ? SERVICE_DEADLINE_MS - spent : 0;
}

/* Waits for handle until the order's deadline, its client's leaving or
   the service's stop. */
static Waited WaitWithin(const Order *order, HANDLE handle)
{
    HANDLE waits[3] = {order->stops[0], order->stops[1], handle};
    switch (WaitForMultipleObjects(3, waits, FALSE, TimeLeft(order))) {
    case WAIT_OBJECT_0:
        return WAITED_STOPPING;
    case WAIT_OBJECT_0 + 1:
        return WAITED_GONE;
    case WAIT_OBJECT_0 + 2:
        return WAITED_DONE;
    default:
        return WAITED_OUT;
    }
}

static void Refuse(ServiceAnswer *answer, const char *reason)
{
    answer->result = SERVICE_REFUSED;
    lstrcpynA(answer->text, reason, sizeof answer->text);
}

static void RefuseEnded(ServiceAnswer *answer, Waited why)
{
    Refuse(answer, why == WAITED_STOPPING ? "the service is stopping" : "the client gave up");
}

static void NoReading(ServiceAnswer *answer, int failure, DWORD error, const char *text)
{
    answer->result = SERVICE_NO_READING;
    answer->failure = failure;
    answer->error = error;
    lstrcpynA(answer->text, text, sizeof answer->text);
}

/* The machine's own spelling of the host: the current host or an entry
   of its list, equal but for ASCII letter case (never by a language's
   rules, which would let "maß" stand for "mass"); the client's own host
   when the machine lets the users choose. */
static BOOL ChosenSpelling(const AppState *machine, DWORD userHosts, const char *host,
                           char *chosen, size_t size)
{
    const char *found = NULL;
    if (SameHostName(TextOrEmpty(machine->host), host))
        found = machine->host;
    for (int i = 0; found == NULL && i < machine->hosts.itemCount; i++)
        if (SameHostName(machine->hosts.items[i], host))
            found = machine->hosts.items[i];
    if (found == NULL && userHosts == 1)
        found = host;
    if (found == NULL || strlen(found) >= size)
        return FALSE;
    lstrcpynA(chosen, found, (int)size);
    return TRUE;
}

/* The machine's policy, and within it what the person accepted. */
static AdjustAction DecideForTheMachine(TimeSample *sample, const ServiceRequest *request,
                                        const AppState *machine)
{
    AdjustAction action = DecideAdjustment(sample, machine->maxAdjust, machine->adjOpt);
    if (action != ADJUST_ASK)
        return action;
    if (request->mode == SERVICE_ACCEPT_UP_TO && WithinSeconds(sample, request->limit))
        action = ADJUST_APPLY;
    else if (request->mode == SERVICE_LIMIT)
        action = ADJUST_LIMIT;
    else
        return ADJUST_ASK;
    ApplyAdjustment(sample, action, machine->maxAdjust, 0);
    return action;
}

static void PutReading(ServiceAnswer *answer, const TimeSample *sample)
{
    answer->precise = sample->precise;
    answer->localClock = sample->localClock;
    answer->offset = sample->offset;
    answer->serverTime = sample->serverTime;
    answer->localTime = sample->localTime;
    answer->lag = sample->lag;
    answer->connectTime = sample->connectTime;
    lstrcpynA(answer->label, TextOrEmpty(sample->label), sizeof answer->label);
    answer->authenticated = sample->authenticated;
    answer->sourceCount = sample->sourceCount;
    answer->sourcesAnswered = sample->sourcesAnswered;
    answer->sourcesAgreeing = sample->sourcesAgreeing;
    memcpy(answer->sources, sample->sources, sizeof answer->sources);
}

/* Why the clock may not be set now: the client left, the service stops,
   or the deadline passed (the client may have stopped waiting). */
static const char *WhyNotNow(const Order *order)
{
    if (WaitForSingleObject(order->stops[0], 0) == WAIT_OBJECT_0)
        return "the service is stopping";
    if (WaitForSingleObject(order->stops[1], 0) == WAIT_OBJECT_0)
        return "the client gave up";
    if (TimeLeft(order) == 0)
        return "the reading came after the service's deadline";
    return NULL;
}

static void SetFromReading(TimeSample *sample, const Order *order, const AppState *machine,
                           ServiceAnswer *answer)
{
    answer->maxAdjust = machine->maxAdjust;
    AdjustAction action = DecideForTheMachine(sample, order->request, machine);
    const char *why = WhyNotNow(order);
    if (why != NULL) {
        Refuse(answer, why);
        return;
    }
    if (action == ADJUST_ASK) {
        answer->result = SERVICE_ASK;
    } else if (action == ADJUST_LEAVE) {
        answer->result = SERVICE_LEFT;
    } else {
        answer->error = SetClockToReading(sample);
        answer->result = answer->error != 0          ? SERVICE_FAILED
                         : action == ADJUST_LIMIT ? SERVICE_LIMITED
                                                  : SERVICE_SET;
    }
    PutReading(answer, sample);
}

/* The names one reading asks, and their addresses: the host, then (for
   several servers) the entries of the machine's list one fetch may ask. */
struct Lookups {
    int count;
    const char *names[1 + MOST_SOURCES];
    ServerAddresses addresses[1 + MOST_SOURCES];
    int errors[1 + MOST_SOURCES];
};

/* Every name looked up at once, each in a thread of its own, so that the
   wait keeps the deadline; never under the exchange's lock, which a slow
   name server would hold for every client.  A name not looked up in time
   has WSAETIMEDOUT; of several servers, the others are asked all the
   same. */
static Waited LookUpWithin(const Order *order, Lookups *lookups)
{
    int protocol = order->protocol;
    u_short port = protocol == PROTOCOL_SNTP ? SNTP_PORT
                   : protocol == PROTOCOL_NTS ? NTS_KE_PORT
                                              : TIME_PORT;
    int type = protocol == PROTOCOL_SNTP ? SOCK_DGRAM : SOCK_STREAM;
    BackgroundJob *jobs[1 + MOST_SOURCES];
    int pending = 0;
    for (int i = 0; i < lookups->count; i++) {
        jobs[i] = NULL;
        lookups->errors[i] = WSAETIMEDOUT;
        lookups->addresses[i].count = 0;
        if (IsAddressLiteral(lookups->names[i])) {
            lookups->errors[i] =
                ResolveServer(lookups->names[i], port, type, &lookups->addresses[i]);
            continue;
        }
        jobs[i] = StartLookup(lookups->names[i], port, type, NULL, NULL, 0);
        if (jobs[i] == NULL)
            lookups->errors[i] = WSA_NOT_ENOUGH_MEMORY;
        else
            pending++;
    }
    Waited waited = WAITED_DONE;
    while (pending > 0 && waited == WAITED_DONE) {
        HANDLE waits[2 + 1 + MOST_SOURCES] = {order->stops[0], order->stops[1]};
        int of[1 + MOST_SOURCES];
        DWORD count = 2;
        for (int i = 0; i < lookups->count; i++)
            if (jobs[i] != NULL) {
                of[count - 2] = i;
                waits[count++] = JobDoneEvent(jobs[i]);
            }
        DWORD woken = WaitForMultipleObjects(count, waits, FALSE, TimeLeft(order));
        if (woken == WAIT_OBJECT_0) {
            waited = WAITED_STOPPING;
        } else if (woken == WAIT_OBJECT_0 + 1) {
            waited = WAITED_GONE;
        } else if (woken >= WAIT_OBJECT_0 + 2 && woken < WAIT_OBJECT_0 + count) {
            int i = of[woken - WAIT_OBJECT_0 - 2];
            lookups->errors[i] = LookupResult(jobs[i], &lookups->addresses[i]);
            ReleaseBackgroundJob(jobs[i]);
            jobs[i] = NULL;
            pending--;
        } else {
            waited = WAITED_OUT;
        }
    }
    for (int i = 0; i < lookups->count; i++)
        ReleaseBackgroundJob(jobs[i]);
    if (waited == WAITED_OUT && lookups->count > 1)
        waited = WAITED_DONE;
    return waited;
}

/* The host, and for several servers the machine's list as far as one
   fetch asks it. */
static void PlanLookups(const char *host, const AppState *machine, int sources,
                        Lookups *lookups)
{
    lookups->count = 1;
    lookups->names[0] = host;
    for (int i = 0; sources > 1 && i < machine->hosts.itemCount && lookups->count <= MOST_SOURCES;
         i++)
        lookups->names[lookups->count++] = machine->hosts.items[i];
}

/* The exchange under the lock: the service's own reading of the
   addresses looked up, within what is left of the deadline. */
static void ExchangeAndSet(const Order *order, const Lookups *lookups, int sources,
                           const AppState *machine, ServiceAnswer *answer)
{
    StringList entries = {lookups->count - 1, (char **)(lookups->names + 1)};
    FetchOrder fetch;
    memset(&fetch, 0, sizeof fetch);
    fetch.host = lookups->names[0];
    fetch.protocol = order->protocol;
    fetch.port = TIME_PORT;
    fetch.addresses = &lookups->addresses[0];
    fetch.sources = sources;
    fetch.hosts = &entries;
    fetch.entryAddresses = &lookups->addresses[1];
    fetch.ntsTrust = machine->ntsTrust;
    RequestOutcome outcome;
    /* Nothing goes to the server for a client that left meanwhile. */
    const char *why = WhyNotNow(order);
    if (why != NULL) {
        Refuse(answer, why);
        return;
    }
    if (StartWindowlessFetch(serviceRequest, &fetch, &outcome))
        RunRequest(serviceRequest, order->stops, 2, TimeLeft(order), &outcome);
    if (outcome.kind == OUTCOME_READING)
        SetFromReading(&outcome.sample, order, machine, answer);
    else if (outcome.kind == OUTCOME_STOPPED)
        Refuse(answer, WhyNotNow(order) != NULL ? WhyNotNow(order) : "the service is stopping");
    else
        NoReading(answer, outcome.failure, (DWORD)outcome.socketError, outcome.report);
}

static void TakeReadingAndSet(const Order *order, const char *host, const AppState *machine,
                              ServiceAnswer *answer)
{
    int sources = order->protocol == PROTOCOL_TIME ? 1 : machine->sources;
    Lookups lookups;
    char text[SERVICE_TEXT_SIZE];
    char shown[SERVICE_HOST_SIZE];
    CopyPrintable(shown, sizeof shown, host);
    PlanLookups(host, machine, sources, &lookups);
    Waited waited = LookUpWithin(order, &lookups);
    if (waited == WAITED_OUT) {
        FormatText(text, sizeof text, "horavex: %s: not looked up within %lu s", shown,
                   (unsigned long)(SERVICE_DEADLINE_MS / 1000));
        NoReading(answer, FAILURE_SOCKET, WSAETIMEDOUT, text);
        return;
    }
    if (waited != WAITED_DONE) {
        RefuseEnded(answer, waited);
        return;
    }
    if (lookups.errors[0] != 0 && lookups.count == 1) {
        FormatText(text, sizeof text, "horavex: %s: unknown host", shown);
        NoReading(answer, FAILURE_SOCKET, (DWORD)lookups.errors[0], text);
        return;
    }
    waited = WaitWithin(order, exchangeLock);
    if (waited == WAITED_OUT) {
        answer->result = SERVICE_BUSY;
        lstrcpynA(answer->text, "other clients' readings took the time", sizeof answer->text);
        return;
    }
    if (waited != WAITED_DONE) {
        RefuseEnded(answer, waited);
        return;
    }
    ExchangeAndSet(order, &lookups, sources, machine, answer);
    ReleaseSemaphore(exchangeLock, 1, NULL);
}

void ServeTimeOrder(const ServiceRequest *request, ServiceAnswer *answer, HANDLE clientGone,
                    HANDLE stopEvent)
{
    Order order = {request, GetTickCount(), {stopEvent, clientGone}, request->protocol};
    memset(answer, 0, sizeof *answer);
    AppState machine;
    memset(&machine, 0, sizeof machine);
    DWORD userHosts = 0;
    char host[SERVICE_HOST_SIZE];
    EnterCriticalSection(&settingsLock);
    LoadMachineSettings(&machine, &userHosts);
    LeaveCriticalSection(&settingsLock);
    /* Where the machine chose NTS a user cannot trade it for a protocol
       anyone on the path could answer. */
    if (machine.protocol == PROTOCOL_NTS)
        order.protocol = PROTOCOL_NTS;
    if (!ChosenSpelling(&machine, userHosts, request->host, host, sizeof host))
        Refuse(answer, "the host is not one the administrator chose");
    else if (WhyNotNow(&order) != NULL)
        Refuse(answer, WhyNotNow(&order));
    else
        TakeReadingAndSet(&order, host, &machine, answer);
    free(machine.host);
    free(machine.logPath);
    free(machine.ntsTrust);
    StringListClear(&machine.hosts);
}
