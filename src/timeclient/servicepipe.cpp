#include "timeclient/servicepipe.h"

#include <string.h>

#include "base/appstate.h"
#include "base/textfmt.h"
#include "timeclient/adjustlimit.h"

#define REQUEST_MARK "HVXQ"
#define ANSWER_MARK "HVXA"
/* Where the host and the text begin. */
#define REQUEST_HOST_AT 24
#define ANSWER_TEXT_AT 80
#define ANSWER_SOURCES_AT (ANSWER_TEXT_AT + SERVICE_TEXT_SIZE)
#define LABEL_SIZE 8
/* A client waits for a free instance of the pipe this long at most. */
#define PIPE_WAIT_MS 2000

static void PutWord(BYTE *at, WORD value)
{
    at[0] = (BYTE)value;
    at[1] = (BYTE)(value >> 8);
}

static void PutLong(BYTE *at, DWORD value)
{
    for (int i = 0; i < 4; i++)
        at[i] = (BYTE)(value >> 8 * i);
}

static void PutQuad(BYTE *at, LONGLONG value)
{
    for (int i = 0; i < 8; i++)
        at[i] = (BYTE)((unsigned long long)value >> 8 * i);
}

static WORD GetWord(const BYTE *at)
{
    return (WORD)(at[0] | at[1] << 8);
}

static DWORD GetLong(const BYTE *at)
{
    return (DWORD)at[0] | (DWORD)at[1] << 8 | (DWORD)at[2] << 16 | (DWORD)at[3] << 24;
}

static LONGLONG GetQuad(const BYTE *at)
{
    unsigned long long value = 0;
    for (int i = 7; i >= 0; i--)
        value = value << 8 | at[i];
    return (LONGLONG)value;
}

/* A text field: its bytes after the terminator are zero. */
static void PutText(BYTE *at, size_t size, const char *text)
{
    memset(at, 0, size);
    lstrcpynA((char *)at, text, (int)size);
}

/* Terminated within its field, and nothing but zeros after it. */
static BOOL GetText(const BYTE *at, size_t size, char *text)
{
    const BYTE *end = (const BYTE *)memchr(at, 0, size);
    if (end == NULL)
        return FALSE;
    for (const BYTE *rest = end; rest < at + size; rest++)
        if (*rest != 0)
            return FALSE;
    memcpy(text, at, (size_t)(end - at) + 1);
    return TRUE;
}

static void PutHead(BYTE *message, const char *mark, DWORD size)
{
    memcpy(message, mark, 4);
    PutWord(message + 4, SERVICE_VERSION);
    PutWord(message + 6, (WORD)size);
}

static BOOL HeadIs(const BYTE *message, DWORD size, const char *mark, DWORD expected)
{
    return size == expected && memcmp(message, mark, 4) == 0
           && GetWord(message + 4) == SERVICE_VERSION && GetWord(message + 6) == expected;
}

DWORD EncodeServiceRequest(const ServiceRequest *request, BYTE *message)
{
    memset(message, 0, SERVICE_REQUEST_SIZE);
    PutHead(message, REQUEST_MARK, SERVICE_REQUEST_SIZE);
    PutLong(message + 8, (DWORD)request->protocol);
    PutLong(message + 12, (DWORD)request->mode);
    PutLong(message + 16, request->limit);
    PutText(message + REQUEST_HOST_AT, SERVICE_HOST_SIZE, request->host);
    return SERVICE_REQUEST_SIZE;
}

BOOL DecodeServiceRequest(const BYTE *message, DWORD size, ServiceRequest *request)
{
    if (!HeadIs(message, size, REQUEST_MARK, SERVICE_REQUEST_SIZE) || GetLong(message + 20) != 0)
        return FALSE;
    request->protocol = (int)GetLong(message + 8);
    request->mode = (int)GetLong(message + 12);
    request->limit = GetLong(message + 16);
    return (request->protocol == PROTOCOL_TIME || request->protocol == PROTOCOL_SNTP
            || request->protocol == PROTOCOL_NTS)
           && request->mode >= SERVICE_BY_POLICY && request->mode <= SERVICE_LIMIT
           && GetText(message + REQUEST_HOST_AT, SERVICE_HOST_SIZE, request->host)
           && request->host[0] != '\0';
}

DWORD EncodeServiceAnswer(const ServiceAnswer *answer, BYTE *message)
{
    memset(message, 0, SERVICE_ANSWER_SIZE);
    PutHead(message, ANSWER_MARK, SERVICE_ANSWER_SIZE);
    PutLong(message + 8, (DWORD)answer->result);
    PutLong(message + 12, answer->error);
    PutLong(message + 16, (DWORD)answer->failure);
    PutLong(message + 20, (DWORD)answer->precise);
    PutQuad(message + 24, answer->localClock);
    PutQuad(message + 32, answer->offset);
    PutQuad(message + 40, answer->serverTime);
    PutQuad(message + 48, answer->localTime);
    PutLong(message + 56, answer->lag);
    PutLong(message + 60, answer->connectTime);
    PutText(message + 64, LABEL_SIZE, answer->label);
    PutLong(message + 72, answer->maxAdjust);
    PutLong(message + 76, answer->authenticated ? 1 : 0);
    PutText(message + ANSWER_TEXT_AT, SERVICE_TEXT_SIZE, answer->text);
    BYTE *sources = message + ANSWER_SOURCES_AT;
    int count = answer->sourceCount < 0 || answer->sourceCount > MOST_SOURCES ? 0
                                                                             : answer->sourceCount;
    PutLong(sources, (DWORD)count);
    PutLong(sources + 4, (DWORD)answer->sourcesAnswered);
    PutLong(sources + 8, (DWORD)answer->sourcesAgreeing);
    for (int i = 0; i < count; i++) {
        BYTE *at = sources + 16 + i * SERVICE_SOURCE_SIZE;
        PutText(at, SOURCE_ADDRESS_SIZE, answer->sources[i].address);
        PutQuad(at + SOURCE_ADDRESS_SIZE, answer->sources[i].offset);
        PutLong(at + SOURCE_ADDRESS_SIZE + 8, (DWORD)answer->sources[i].state);
    }
    return SERVICE_ANSWER_SIZE;
}

/* The servers of an answer: counts within bounds, known states, terminated
   texts, and nothing but zeros in the entries it does not use. */
static BOOL GetSources(const BYTE *sources, ServiceAnswer *answer)
{
    answer->sourceCount = (int)GetLong(sources);
    answer->sourcesAnswered = (int)GetLong(sources + 4);
    answer->sourcesAgreeing = (int)GetLong(sources + 8);
    if (answer->sourceCount < 0 || answer->sourceCount > MOST_SOURCES
        || answer->sourcesAnswered < 0 || answer->sourcesAnswered > answer->sourceCount
        || answer->sourcesAgreeing < 0 || answer->sourcesAgreeing > answer->sourcesAnswered
        || GetLong(sources + 12) != 0)
        return FALSE;
    for (int i = 0; i < MOST_SOURCES; i++) {
        const BYTE *at = sources + 16 + i * SERVICE_SOURCE_SIZE;
        if (i >= answer->sourceCount) {
            for (int k = 0; k < SERVICE_SOURCE_SIZE; k++)
                if (at[k] != 0)
                    return FALSE;
            continue;
        }
        SourceReport *source = &answer->sources[i];
        source->offset = GetQuad(at + SOURCE_ADDRESS_SIZE);
        source->state = (int)GetLong(at + SOURCE_ADDRESS_SIZE + 8);
        if (!GetText(at, SOURCE_ADDRESS_SIZE, source->address) || source->state < SOURCE_TAKEN
            || source->state > SOURCE_FAILED || GetLong(at + SOURCE_ADDRESS_SIZE + 12) != 0)
            return FALSE;
    }
    return TRUE;
}

BOOL DecodeServiceAnswer(const BYTE *message, DWORD size, ServiceAnswer *answer)
{
    if (!HeadIs(message, size, ANSWER_MARK, SERVICE_ANSWER_SIZE))
        return FALSE;
    answer->result = (int)GetLong(message + 8);
    answer->error = GetLong(message + 12);
    answer->failure = (int)GetLong(message + 16);
    answer->precise = GetLong(message + 20) != 0;
    answer->localClock = GetQuad(message + 24);
    answer->offset = GetQuad(message + 32);
    answer->serverTime = GetQuad(message + 40);
    answer->localTime = GetQuad(message + 48);
    answer->lag = GetLong(message + 56);
    answer->connectTime = GetLong(message + 60);
    answer->maxAdjust = GetLong(message + 72);
    answer->authenticated = GetLong(message + 76) == 1;
    return answer->result >= SERVICE_SET && answer->result <= SERVICE_BUSY
           && GetLong(message + 76) <= 1 && GetText(message + 64, LABEL_SIZE, answer->label)
           && GetText(message + ANSWER_TEXT_AT, SERVICE_TEXT_SIZE, answer->text)
           && GetSources(message + ANSWER_SOURCES_AT, answer);
}

static int VersionOf(const BYTE *message, DWORD size, const char *mark)
{
    if (size < 8 || memcmp(message, mark, 4) != 0)
        return 0;
    return GetWord(message + 4);
}

int ServiceRequestVersion(const BYTE *message, DWORD size)
{
    return VersionOf(message, size, REQUEST_MARK);
}

int ServiceAnswerVersion(const BYTE *message, DWORD size)
{
    return VersionOf(message, size, ANSWER_MARK);
}

BOOL MakeServiceRequest(const char *host, int protocol, int mode, DWORD limit,
                        ServiceRequest *request)
{
    memset(request, 0, sizeof *request);
    if (strlen(host) >= sizeof request->host)
        return FALSE;
    request->protocol = protocol == PROTOCOL_SNTP || protocol == PROTOCOL_NTS ? protocol
                                                                              : PROTOCOL_TIME;
    request->mode = mode;
    request->limit = limit;
    lstrcpynA(request->host, host, sizeof request->host);
    return TRUE;
}

/* The service manager, connected once for the life of the process: each
   new connection costs more than the rest of a call to the service. */
static SC_HANDLE ServiceManager(void)
{
    static SC_HANDLE manager;
    SC_HANDLE known = (SC_HANDLE)InterlockedCompareExchangePointer((PVOID *)&manager, NULL, NULL);
    if (known != NULL)
        return known;
    SC_HANDLE opened = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    if (opened == NULL)
        return NULL;
    known = (SC_HANDLE)InterlockedCompareExchangePointer((PVOID *)&manager, opened, NULL);
    if (known == NULL)
        return opened;
    CloseServiceHandle(opened);
    return known;
}

/* The process of the service while it runs, or why there is none. */
static ServiceTrouble RunningServiceProcess(DWORD *processId)
{
    SC_HANDLE manager = ServiceManager();
    if (manager == NULL)
        return SERVICE_NOT_RUNNING;
    SC_HANDLE service = OpenServiceA(manager, TIME_SERVICE_NAME, SERVICE_QUERY_STATUS);
    ServiceTrouble trouble = SERVICE_NOT_INSTALLED;
    SERVICE_STATUS_PROCESS status;
    DWORD needed = 0;
    if (service != NULL) {
        trouble = SERVICE_NOT_RUNNING;
        if (QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, (BYTE *)&status, sizeof status,
                                 &needed)
            && status.dwCurrentState == SERVICE_RUNNING && status.dwProcessId != 0) {
            *processId = status.dwProcessId;
            trouble = SERVICE_ANSWERED;
        }
        CloseServiceHandle(service);
    }
    return trouble;
}

BOOL TransferOnPipe(HANDLE pipe, BOOL writing, BYTE *data, DWORD size, DWORD *done,
                    DWORD waitMs, HANDLE giveUp)
{
    OVERLAPPED overlapped;
    memset(&overlapped, 0, sizeof overlapped);
    overlapped.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (overlapped.hEvent == NULL)
        return FALSE;
    BOOL started = writing ? WriteFile(pipe, data, size, NULL, &overlapped)
                           : ReadFile(pipe, data, size, NULL, &overlapped);
    if (!started && GetLastError() == ERROR_IO_PENDING) {
        HANDLE events[2] = {overlapped.hEvent, giveUp};
        if (WaitForMultipleObjects(giveUp != NULL ? 2 : 1, events, FALSE, waitMs)
            != WAIT_OBJECT_0)
            CancelIoEx(pipe, &overlapped);
        started = TRUE;
    }
    BOOL finished = started && GetOverlappedResult(pipe, &overlapped, done, TRUE);
    DWORD error = GetLastError();
    CloseHandle(overlapped.hEvent);
    SetLastError(error);
    return finished;
}

/* Each way an open of the pipe fails, as what it is. */
static ServiceTrouble TroubleOfOpen(DWORD error, ServiceAnswer *answer)
{
    switch (error) {
    case ERROR_PIPE_BUSY:
        return SERVICE_PIPE_BUSY;
    case ERROR_ACCESS_DENIED:
        return SERVICE_DENIED;
    case ERROR_FILE_NOT_FOUND:
        return SERVICE_NO_PIPE;
    default:
        answer->error = error;
        return SERVICE_UNREACHABLE;
    }
}

static HANDLE OpenPipeOnce(void)
{
    /* Identification only: the service may tell who asks, but not act as
       that user. */
    DWORD flags = FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;
    return CreateFileA(TIME_SERVICE_PIPE, TIME_SERVICE_CLIENT_ACCESS, 0, NULL, OPEN_EXISTING,
                       flags, NULL);
}

/* The service's process still runs as the one the manager named: a
   handle held on it keeps its id from going to another process meanwhile;
   without one, the manager is asked again (which costs more than the rest
   of the call). */
static BOOL StillTheService(HANDLE process, DWORD serviceProcess)
{
    if (process != NULL)
        return WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    DWORD again = 0;
    return RunningServiceProcess(&again) == SERVICE_ANSWERED && again == serviceProcess;
}

/* The pipe's server end, opened for one request: its process must be the
   running service's, as a careful client checks whom it talks to; while
   the service is not running the pipe is not even opened. */
static ServiceTrouble OpenServicePipe(HANDLE *pipe, ServiceAnswer *answer)
{
    DWORD serviceProcess = 0;
    ServiceTrouble trouble = RunningServiceProcess(&serviceProcess);
    if (trouble != SERVICE_ANSWERED)
        return trouble;
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, serviceProcess);
    *pipe = OpenPipeOnce();
    if (*pipe == INVALID_HANDLE_VALUE && GetLastError() == ERROR_PIPE_BUSY
        && WaitNamedPipeA(TIME_SERVICE_PIPE, PIPE_WAIT_MS))
        *pipe = OpenPipeOnce();
    if (*pipe == INVALID_HANDLE_VALUE) {
        trouble = TroubleOfOpen(GetLastError(), answer);
    } else {
        ULONG serverProcess = 0;
        DWORD mode = PIPE_READMODE_MESSAGE;
        if (!GetNamedPipeServerProcessId(*pipe, &serverProcess) || serverProcess != serviceProcess
            || !StillTheService(process, serviceProcess))
            trouble = SERVICE_NOT_BELIEVED;
        else if (!SetNamedPipeHandleState(*pipe, &mode, NULL, NULL))
            trouble = SERVICE_SILENT;
        if (trouble != SERVICE_ANSWERED)
            CloseHandle(*pipe);
    }
    if (process != NULL)
        CloseHandle(process);
    return trouble;
}

ServiceTrouble AskTimeService(const ServiceRequest *request, ServiceAnswer *answer,
                              HANDLE dropped)
{
    HANDLE pipe;
    memset(answer, 0, sizeof *answer);
    ServiceTrouble trouble = OpenServicePipe(&pipe, answer);
    if (trouble != SERVICE_ANSWERED)
        return trouble;
    BYTE message[SERVICE_ANSWER_SIZE + 1];
    DWORD size = EncodeServiceRequest(request, message);
    DWORD done = 0;
    BOOL received =
        TransferOnPipe(pipe, TRUE, message, size, &done, PIPE_WAIT_MS, dropped) && done == size
        && TransferOnPipe(pipe, FALSE, message, sizeof message, &done, SERVICE_ANSWER_WAIT_MS,
                          dropped);
    /* A longer answer than ours fails the read: its head is what counts. */
    if (!received && GetLastError() == ERROR_MORE_DATA)
        done = sizeof message;
    CloseHandle(pipe);
    int version = ServiceAnswerVersion(message, done);
    if ((received || done == sizeof message) && version != 0 && version != SERVICE_VERSION) {
        memset(answer, 0, sizeof *answer);
        answer->error = (DWORD)version;
        return SERVICE_OTHER_VERSION;
    }
    return received && DecodeServiceAnswer(message, done, answer) ? SERVICE_ANSWERED
                                                                  : SERVICE_SILENT;
}

void DescribeServiceTrouble(ServiceTrouble trouble, const ServiceAnswer *answer, char *text,
                            size_t size)
{
    switch (trouble) {
    case SERVICE_NOT_INSTALLED:
        FormatText(text, size, "The Horavex Time Service is not installed: install Horavex "
                               "again to have it set the clock.");
        break;
    case SERVICE_NOT_RUNNING:
        FormatText(text, size, "The Horavex Time Service is not running: start it in Services, "
                               "or with \"net start " TIME_SERVICE_NAME "\" as an administrator.");
        break;
    case SERVICE_NOT_BELIEVED:
        FormatText(text, size, "The program answering for the Horavex Time Service is not the "
                               "service: nothing was asked of it.");
        break;
    case SERVICE_SILENT:
        FormatText(text, size, "The Horavex Time Service did not answer.");
        break;
    case SERVICE_PIPE_BUSY:
        FormatText(text, size, "The Horavex Time Service is busy serving other programs: try "
                               "again in a moment.");
        break;
    case SERVICE_DENIED:
        FormatText(text, size, "The Horavex Time Service does not let this user ask it "
                               "(access denied).");
        break;
    case SERVICE_NO_PIPE:
        FormatText(text, size, "The Horavex Time Service runs but does not serve its pipe: "
                               "restart it.");
        break;
    case SERVICE_OTHER_VERSION:
        FormatText(text, size, "The Horavex Time Service speaks version %lu of its messages, "
                               "this program version %d: install Horavex again.",
                   (unsigned long)(answer != NULL ? answer->error : 0), SERVICE_VERSION);
        break;
    case SERVICE_UNREACHABLE:
        FormatText(text, size, "The Horavex Time Service could not be reached (Windows error "
                               "%lu).",
                   (unsigned long)(answer != NULL ? answer->error : 0));
        break;
    case SERVICE_ANSWERED:
        if (answer != NULL && answer->result == SERVICE_BUSY)
            FormatText(text, size, "The Horavex Time Service is busy with other readings: try "
                                   "again in a moment.");
        else
            FormatText(text, size, "The Horavex Time Service refused: %s.",
                       answer != NULL ? answer->text : "");
        break;
    }
}

void TakeServiceReading(const ServiceAnswer *answer, TimeSample *sample)
{
    sample->precise = answer->precise != 0;
    sample->localClock = answer->localClock;
    sample->offset = answer->offset;
    sample->serverTime = (LONG)answer->serverTime;
    sample->localTime = (LONG)answer->localTime;
    sample->lag = answer->lag;
    sample->connectTime = answer->connectTime;
    static const char *const labels[] = {LABEL_RESET, LABEL_ACCEPT, LABEL_PARTIAL, LABEL_IGNORE,
                                         LABEL_FAILED};
    sample->label = NULL;
    for (const char *label : labels)
        if (strcmp(answer->label, label) == 0)
            sample->label = label;
    sample->authenticated = answer->authenticated;
    sample->sourceCount = answer->sourceCount;
    sample->sourcesAnswered = answer->sourcesAnswered;
    sample->sourcesAgreeing = answer->sourcesAgreeing;
    memcpy(sample->sources, answer->sources, sizeof sample->sources);
    sample->setBy = CLOCK_BY_SERVICE;
    sample->serviceResult = answer->result;
    sample->serviceError = answer->error;
    sample->serviceMaxAdjust = answer->maxAdjust;
}
