#include "service/pipeserver.h"

#include <process.h>
#include <sddl.h>
#include <stdlib.h>
#include <string.h>

#include "service/timeorder.h"
#include "timeclient/servicepipe.h"

/* Clients served at once; another waits for a free instance. */
#define MOST_CLIENTS 8
/* A client that says nothing, or reads nothing, this long is dropped. */
#define CLIENT_TIME_LIMIT_MS 2000
/* The system, administrators, interactive users and services; nobody
   else, and nobody from another machine (PIPE_REJECT_REMOTE_CLIENTS). */
#define PIPE_SECURITY "D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;GRGW;;;IU)(A;;GRGW;;;SU)"

struct Client {
    HANDLE pipe;
    HANDLE stopEvent;
    HANDLE slots;
};

/* One transfer on the client's pipe, within the time limit, or none. */
static BOOL Transfer(const Client *client, BOOL writing, BYTE *data, DWORD size, DWORD *done)
{
    return TransferOnPipe(client->pipe, writing, data, size, done, CLIENT_TIME_LIMIT_MS,
                          client->stopEvent);
}

/* One well-formed request, or nothing: a longer message fails the read
   (ERROR_MORE_DATA), a shorter or garbled one the decoding. */
static void ServeClient(Client *client)
{
    BYTE message[SERVICE_ANSWER_SIZE];
    DWORD size = 0;
    ServiceRequest request;
    ServiceAnswer answer;
    if (!Transfer(client, FALSE, message, SERVICE_REQUEST_SIZE, &size))
        return;
    if (!DecodeServiceRequest(message, size, &request)) {
        memset(&answer, 0, sizeof answer);
        answer.result = SERVICE_REFUSED;
        lstrcpynA(answer.text, "not a request of this service", sizeof answer.text);
    } else {
        ServeTimeOrder(&request, &answer, client->pipe, client->stopEvent);
    }
    size = EncodeServiceAnswer(&answer, message);
    DWORD written = 0;
    if (!Transfer(client, TRUE, message, size, &written) || written != size)
        return;
    /* The answer is read before the end goes: the client closes first, or
       its time is up. */
    Transfer(client, FALSE, message, 1, &written);
}

static unsigned __stdcall RunClient(void *parameter)
{
    Client client = *(Client *)parameter;
    free(parameter);
    ServeClient(&client);
    CloseHandle(client.pipe);
    ReleaseSemaphore(client.slots, 1, NULL);
    return 0;
}

static HANDLE MakeInstance(SECURITY_ATTRIBUTES *security, BOOL first)
{
    DWORD openMode = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED;
    /* Nobody else may hold the name first. */
    if (first)
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
        if (WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0)
            connected = GetOverlappedResult(pipe, &overlapped, &done, FALSE);
        else
            CancelIo(pipe);
    }
    CloseHandle(overlapped.hEvent);
    return connected;
}

/* A thread for the client; false when none could be had. */
static BOOL HandOver(HANDLE pipe, HANDLE stopEvent, HANDLE slots)
{
    Client *client = (Client *)malloc(sizeof *client);
    if (client == NULL)
        return FALSE;
    client->pipe = pipe;
    client->stopEvent = stopEvent;
    client->slots = slots;
    uintptr_t thread = _beginthreadex(NULL, 0, RunClient, client, 0, NULL);
    if (thread == 0) {
        free(client);
        return FALSE;
    }
    CloseHandle((HANDLE)thread);
    return TRUE;
}

DWORD ServeTimePipe(HANDLE stopEvent, void (*started)(void))
{
    SECURITY_ATTRIBUTES security = {sizeof security, NULL, FALSE};
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(PIPE_SECURITY, SDDL_REVISION_1,
                                                              &security.lpSecurityDescriptor,
                                                              NULL))
        return GetLastError();
    HANDLE slots = CreateSemaphoreA(NULL, MOST_CLIENTS, MOST_CLIENTS, NULL);
    DWORD error = slots == NULL ? GetLastError() : 0;
    for (BOOL first = TRUE; error == 0; first = FALSE) {
        HANDLE waits[2] = {stopEvent, slots};
        if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1)
            break;
        HANDLE pipe = MakeInstance(&security, first);
        if (pipe == INVALID_HANDLE_VALUE) {
            error = GetLastError();
            break;
        }
        if (first)
            started();
        if (!WaitForClient(pipe, stopEvent) || !HandOver(pipe, stopEvent, slots)) {
            CloseHandle(pipe);
            ReleaseSemaphore(slots, 1, NULL);
        }
    }
    /* The clients still served see the stop and end: their slots come back. */
    for (int i = 0; slots != NULL && i < MOST_CLIENTS; i++)
        WaitForSingleObject(slots, CLIENT_TIME_LIMIT_MS);
    if (slots != NULL)
        CloseHandle(slots);
    LocalFree(security.lpSecurityDescriptor);
    return error;
}
