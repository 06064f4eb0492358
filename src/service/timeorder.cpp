#include "service/timeorder.h"

#include <stdlib.h>
#include <string.h>

#include "base/appstate.h"
#include "base/stringlist.h"
#include "base/textfmt.h"
#include "persist/settings.h"
#include "timeclient/adjustlimit.h"
#include "timeclient/clock.h"
#include "timeclient/request.h"
#include "timeclient/timeproto.h"

/* One reading at a time, with the manners the service keeps for every
   client; the settings are read under it too. */
static CRITICAL_SECTION orderLock;
static TimeRequest *serviceRequest;

BOOL StartTimeOrders(void)
{
    InitializeCriticalSection(&orderLock);
    serviceRequest = NewTimeRequest();
    return serviceRequest != NULL;
}

void EndTimeOrders(void)
{
    FreeTimeRequest(serviceRequest);
    serviceRequest = NULL;
    DeleteCriticalSection(&orderLock);
}

static void Refuse(ServiceAnswer *answer, const char *reason)
{
    answer->result = SERVICE_REFUSED;
    lstrcpynA(answer->text, reason, sizeof answer->text);
}

/* The current host or an entry of the machine's list, without letter
   case; any host when the machine allows the users' own. */
static BOOL IsMachinesHost(const AppState *machine, DWORD userHosts, const char *host)
{
    if (userHosts == 1 || lstrcmpiA(TextOrEmpty(machine->host), host) == 0)
        return TRUE;
    for (int i = 0; i < machine->hosts.itemCount; i++)
        if (lstrcmpiA(machine->hosts.items[i], host) == 0)
            return TRUE;
    return FALSE;
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
}

/* A client that gave up (Stop!) has left its pipe. */
static BOOL ClientWaits(HANDLE clientPipe)
{
    return PeekNamedPipe(clientPipe, NULL, 0, NULL, NULL, NULL)
           || GetLastError() != ERROR_BROKEN_PIPE;
}

static void SetFromReading(TimeSample *sample, const ServiceRequest *request,
                           const AppState *machine, HANDLE clientPipe, ServiceAnswer *answer)
{
    answer->maxAdjust = machine->maxAdjust;
    AdjustAction action = DecideForTheMachine(sample, request, machine);
    if (!ClientWaits(clientPipe)) {
        Refuse(answer, "the client gave up");
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

static void TakeReadingAndSet(const ServiceRequest *request, const AppState *machine,
                              ServiceAnswer *answer, HANDLE clientPipe, HANDLE stopEvent)
{
    FetchOrder order = {request->host, request->protocol, TIME_PORT, 0, FALSE};
    RequestOutcome outcome;
    if (StartFetch(serviceRequest, NULL, &order, &outcome))
        RunRequest(serviceRequest, stopEvent, &outcome);
    if (outcome.kind == OUTCOME_READING) {
        SetFromReading(&outcome.sample, request, machine, clientPipe, answer);
    } else if (outcome.kind == OUTCOME_STOPPED) {
        Refuse(answer, "the service is stopping");
    } else {
        answer->result = SERVICE_NO_READING;
        answer->failure = outcome.failure;
        answer->error = (DWORD)outcome.socketError;
        lstrcpynA(answer->text, outcome.report, sizeof answer->text);
    }
}

void ServeTimeOrder(const ServiceRequest *request, ServiceAnswer *answer, HANDLE clientPipe,
                    HANDLE stopEvent)
{
    memset(answer, 0, sizeof *answer);
    AppState machine;
    memset(&machine, 0, sizeof machine);
    DWORD userHosts = 0;
    EnterCriticalSection(&orderLock);
    LoadMachineSettings(&machine, &userHosts);
    if (!IsMachinesHost(&machine, userHosts, request->host))
        Refuse(answer, "the host is not one the administrator chose");
    else
        TakeReadingAndSet(request, &machine, answer, clientPipe, stopEvent);
    LeaveCriticalSection(&orderLock);
    free(machine.host);
    free(machine.logPath);
    StringListClear(&machine.hosts);
}
