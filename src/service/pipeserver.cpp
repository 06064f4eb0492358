#include "service/pipeserver.h"

#include <process.h>
#include <sddl.h>
#include <stdlib.h>
#include <string.h>

#include "base/textfmt.h"
#include "service/timeorder.h"
#include "timeclient/servicepipe.h"

/* Clients served at once; another waits for a free instance. */
#define MOST_CLIENTS 8
/* A client that says nothing, or reads nothing, this long is dropped. */
#define CLIENT_TIME_LIMIT_MS 2000
/* An instance that could not be made is tried again, sooner at first,
   never more than a second apart. */
#define FIRST_RETRY_MS 50
#define LONGEST_RETRY_MS 1000
/* At a stop, the clients still served have this long to end. */
#define CLIENTS_END_MS (SERVICE_DEADLINE_MS + CLIENT_TIME_LIMIT_MS)
#define SDDL_SIZE 512

struct Client {
    HANDLE pipe;
    HANDLE stopEvent;
    HANDLE slots;
    LONG *instances;
};

/* A pending read of one byte, which ends when the client goes away (or
   sends more than its one request): its event says the client is gone. */
struct ClientWatch {
    OVERLAPPED overlapped;
    BYTE extra;
    BOOL pending;
};

/* One transfer on the client's pipe, within the time limit, or none. */
static BOOL Transfer(const Client *client, BOOL writing, BYTE *data, DWORD size, DWORD *done)
{
    return TransferOnPipe(client->pipe, writing, data, size, done, CLIENT_TIME_LIMIT_MS,
                          client->stopEvent);
}

static BOOL StartWatch(HANDLE pipe, ClientWatch *watch)
{
    memset(watch, 0, sizeof *watch);
    watch->overlapped.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (watch->overlapped.hEvent == NULL)
        return FALSE;
    if (!ReadFile(pipe, &watch->extra, 1, NULL, &watch->overlapped)
        && GetLastError() == ERROR_IO_PENDING)
        watch->pending = TRUE;
    else
        SetEvent(watch->overlapped.hEvent);
    return TRUE;
}

/* After the answer: the client reads it and closes, or its time is up.
   Nothing of the watch is left pending on the pipe. */
static void EndWatch(HANDLE pipe, ClientWatch *watch)
{
    if (watch->pending) {
        if (WaitForSingleObject(watch->overlapped.hEvent, CLIENT_TIME_LIMIT_MS) != WAIT_OBJECT_0)
            CancelIoEx(pipe, &watch->overlapped);
        DWORD done;
        GetOverlappedResult(pipe, &watch->overlapped, &done, TRUE);
    }
    CloseHandle(watch->overlapped.hEvent);
}

/* A message of another version is told so; anything else is no request. */
static void RefuseMessage(const BYTE *message, DWORD size, ServiceAnswer *answer)
{
    memset(answer, 0, sizeof *answer);
    answer->result = SERVICE_REFUSED;
    int version = ServiceRequestVersion(message, size);
    if (version != 0 && version != SERVICE_VERSION)
        FormatText(answer->text, sizeof answer->text,
                   "the program speaks version %d of the messages, the service version %d: "
                   "install Horavex again",
                   version, SERVICE_VERSION);
    else
        lstrcpynA(answer->text, "not a request of this service", sizeof answer->text);
}

/* One well-formed request, or nothing: a longer message fails the read
   (ERROR_MORE_DATA), a shorter or garbled one the decoding.  While its
   reading is taken, the client's leaving ends the work. */
static void ServeClient(Client *client)
{
    BYTE message[SERVICE_ANSWER_SIZE];
    DWORD size = 0;
    ServiceRequest request;
    ServiceAnswer answer;
    ClientWatch watch;
    if (!Transfer(client, FALSE, message, SERVICE_REQUEST_SIZE, &size))
        return;
    if (!StartWatch(client->pipe, &watch))
        return;
    if (!DecodeServiceRequest(message, size, &request))
        RefuseMessage(message, size, &answer);
    else
        ServeTimeOrder(&request, &answer, watch.overlapped.hEvent, client->stopEvent);
    size = EncodeServiceAnswer(&answer, message);
    DWORD written = 0;
    if (!Transfer(client, TRUE, message, size, &written) || written != size)
        CancelIoEx(client->pipe, &watch.overlapped);
    EndWatch(client->pipe, &watch);
}

static void CloseInstance(HANDLE pipe, LONG *instances)
{
    CloseHandle(pipe);
    InterlockedDecrement(instances);
}

static unsigned __stdcall RunClient(void *parameter)
{
    Client client = *(Client *)parameter;
    free(parameter);
    ServeClient(&client);
    CloseInstance(client.pipe, client.instances);
    ReleaseSemaphore(client.slots, 1, NULL);
    return 0;
}

static HANDLE MakeInstance(SECURITY_ATTRIBUTES *security, LONG *instances)
{
    DWORD openMode = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED;
    /* While the service holds no instance, nobody else may hold the name:
       its next instance must be a new pipe, with this descriptor. */
    if (InterlockedCompareExchange(instances, 0, 0) == 0)
        openMode |= FILE_FLAG_FIRST_PIPE_INSTANCE;
    return CreateNamedPipeA(TIME_SERVICE_PIPE, openMode,
                            PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT
                                | PIPE_REJECT_REMOTE_CLIENTS,
                            MOST_CLIENTS + 1, SERVICE_ANSWER_SIZE, SERVICE_REQUEST_SIZE, 0,
                            security);
}

/* Waits, without a timer, for a client on a fresh instance; false when the
   service stops first. */
static BOOL WaitForClient(HANDLE pipe, HANDLE stopEvent)
{
    OVERLAPPED overlapped;
    memset(&overlapped, 0, sizeof overlapped);
    overlapped.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (overlapped.hEvent == NULL)
        return FALSE;
    BOOL connected = ConnectNamedPipe(pipe, &overlapped);
    DWORD error = GetLastError();
    if (!connected && error == ERROR_PIPE_CONNECTED)
        connected = TRUE;
    if (!connected && error == ERROR_IO_PENDING) {
        HANDLE events[2] = {overlapped.hEvent, stopEvent};
        DWORD done;
        if (WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0)
            CancelIoEx(pipe, &overlapped);
        connected = GetOverlappedResult(pipe, &overlapped, &done, TRUE);
    }
    CloseHandle(overlapped.hEvent);
    return connected;
}

/* A thread for the client; false when none could be had. */
static BOOL HandOver(HANDLE pipe, HANDLE stopEvent, HANDLE slots, LONG *instances)
{
    Client *client = (Client *)malloc(sizeof *client);
    if (client == NULL)
        return FALSE;
    client->pipe = pipe;
    client->stopEvent = stopEvent;
    client->slots = slots;
    client->instances = instances;
    uintptr_t thread = _beginthreadex(NULL, 0, RunClient, client, 0, NULL);
    if (thread == 0) {
        free(client);
        return FALSE;
    }
    CloseHandle((HANDLE)thread);
    return TRUE;
}

static BOOL SidText(PSID sid, char *text, size_t size)
{
    char *converted = NULL;
    if (!ConvertSidToStringSidA(sid, &converted))
        return FALSE;
    BOOL fits = strlen(converted) < size;
    lstrcpynA(text, converted, (int)size);
    LocalFree(converted);
    return fits;
}

/* The service's own SID where its token carries it, else its account's
   (LocalService): it alone, beside the system and administrators, may
   make further instances. */
static BOOL OwnSidText(char *text, size_t size)
{
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof sid;
    char domain[256];
    DWORD domainSize = sizeof domain;
    SID_NAME_USE use;
    BOOL member = FALSE;
    if (LookupAccountNameA(NULL, "NT SERVICE\\" TIME_SERVICE_NAME, sid, &sidSize, domain,
                           &domainSize, &use)
        && CheckTokenMembership(NULL, sid, &member) && member)
        return SidText(sid, text, size);
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return FALSE;
    BYTE user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD needed = 0;
    BOOL got = GetTokenInformation(token, TokenUser, user, sizeof user, &needed);
    CloseHandle(token);
    return got && SidText(((TOKEN_USER *)user)->User.Sid, text, size);
}

/* Nobody over the network; full access for the system, administrators and
   the service itself; interactive users and services may only connect and
   exchange messages (TIME_SERVICE_CLIENT_ACCESS: no instance of their
   own). */
static BOOL MakePipeSecurity(SECURITY_ATTRIBUTES *security)
{
    char own[SDDL_SIZE];
    char sddl[SDDL_SIZE];
    if (!OwnSidText(own, sizeof own))
        return FALSE;
    FormatText(sddl, sizeof sddl,
               "D:P(D;;GA;;;NU)(A;;GA;;;SY)(A;;GA;;;BA)(A;;GA;;;%s)(A;;0x%lx;;;IU)"
               "(A;;0x%lx;;;SU)",
               own, (unsigned long)TIME_SERVICE_CLIENT_ACCESS,
               (unsigned long)TIME_SERVICE_CLIENT_ACCESS);
    return ConvertStringSecurityDescriptorToSecurityDescriptorA(
        sddl, SDDL_REVISION_1, &security->lpSecurityDescriptor, NULL);
}

/* Every client slot back, or the time is up: how many are still served. */
static int WaitForClientsToEnd(HANDLE slots)
{
    DWORD start = GetTickCount();
    int back = 0;
    while (back < MOST_CLIENTS) {
        DWORD spent = GetTickCount() - start;
        if (spent >= CLIENTS_END_MS
            || WaitForSingleObject(slots, CLIENTS_END_MS - spent) != WAIT_OBJECT_0)
            break;
        back++;
    }
    return MOST_CLIENTS - back;
}

/* An instance that could not be made (another process holds the name's
   instances, say) ends nothing: the service waits and tries again, and
   serves the clients it has meanwhile. */
static int ServeUntilStopped(SECURITY_ATTRIBUTES *security, HANDLE stopEvent, HANDLE slots,
                             void (*started)(void))
{
    LONG instances = 0;
    DWORD retryMs = FIRST_RETRY_MS;
    BOOL announced = FALSE;
    for (;;) {
        HANDLE waits[2] = {stopEvent, slots};
        if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1)
            break;
        HANDLE pipe = MakeInstance(security, &instances);
        if (!announced) {
            announced = TRUE;
            started();
        }
        if (pipe == INVALID_HANDLE_VALUE) {
            ReleaseSemaphore(slots, 1, NULL);
            if (WaitForSingleObject(stopEvent, retryMs) == WAIT_OBJECT_0)
                break;
            retryMs = retryMs * 2 < LONGEST_RETRY_MS ? retryMs * 2 : LONGEST_RETRY_MS;
            continue;
        }
        retryMs = FIRST_RETRY_MS;
        InterlockedIncrement(&instances);
        if (!WaitForClient(pipe, stopEvent) || !HandOver(pipe, stopEvent, slots, &instances)) {
            CloseInstance(pipe, &instances);
            ReleaseSemaphore(slots, 1, NULL);
        }
    }
    /* The clients still served see the stop and end: their slots come back. */
    return WaitForClientsToEnd(slots);
}

DWORD ServeTimePipe(HANDLE stopEvent, void (*started)(void), int *stillServed)
{
    SECURITY_ATTRIBUTES security = {sizeof security, NULL, FALSE};
    *stillServed = 0;
    if (!MakePipeSecurity(&security))
        return GetLastError();
    HANDLE slots = CreateSemaphoreA(NULL, MOST_CLIENTS, MOST_CLIENTS, NULL);
    DWORD error = slots == NULL ? GetLastError() : 0;
    if (slots != NULL) {
        *stillServed = ServeUntilStopped(&security, stopEvent, slots, started);
        if (*stillServed == 0)
            CloseHandle(slots);
    }
    LocalFree(security.lpSecurityDescriptor);
    return error;
}
