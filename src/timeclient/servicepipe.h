#ifndef HORAVEX_SERVICEPIPE_H
#define HORAVEX_SERVICEPIPE_H

#include <windows.h>

#include "base/timesample.h"

/* The time service, which holds the right to set the clock for users who
   lack it, and the pipe it answers on (docs/service.md). */
#define TIME_SERVICE_NAME "HoravexTime"
#define TIME_SERVICE_PIPE "\\\\.\\pipe\\HoravexTime"

/* The messages: version 2, little-endian, of these sizes exactly. */
#define SERVICE_VERSION 2
#define SERVICE_HOST_SIZE 256
#define SERVICE_TEXT_SIZE 512
#define SERVICE_REQUEST_SIZE (24 + SERVICE_HOST_SIZE)
/* Each server a reading of several asked, as the answer reports it. */
#define SERVICE_SOURCE_SIZE 64
#define SERVICE_ANSWER_SIZE (80 + SERVICE_TEXT_SIZE + 16 + MOST_SOURCES * SERVICE_SOURCE_SIZE)

/* The service's whole work for one request (the lookup, the wait for its
   one exchange, holds, every address, the exchange) ends this long after
   it read the request; it never sets the clock later.  A client waits for
   the answer longer than that, so that an answer sent is always read. */
#define SERVICE_DEADLINE_MS 10000
#define SERVICE_ANSWER_WAIT_MS (SERVICE_DEADLINE_MS + 3000)

/* What a client may do with the pipe: read and write its messages, its
   attributes and its security; never FILE_APPEND_DATA, which on a pipe
   creates an instance of it (GENERIC_WRITE would ask for that too). */
#define TIME_SERVICE_CLIENT_ACCESS                                                     \
    (FILE_GENERIC_READ | FILE_WRITE_DATA | FILE_WRITE_ATTRIBUTES | FILE_WRITE_EA)

/* What the client accepts. */
enum ServiceMode {
    SERVICE_BY_POLICY,    /* the machine's adjustment policy decides */
    SERVICE_ACCEPT_UP_TO, /* the person accepted a change of up to limit seconds */
    SERVICE_LIMIT,        /* the person asked for a move by the machine's maxAdjust */
};

/* "Take a reading from host by protocol and set the clock from it." */
struct ServiceRequest {
    int protocol;
    int mode;
    DWORD limit;
    char host[SERVICE_HOST_SIZE];
};

/* What the service did. */
enum ServiceResult {
    SERVICE_SET,        /* the clock set from its reading (label reset or accept) */
    SERVICE_LIMITED,    /* moved by maxAdjust toward the server (partial) */
    SERVICE_LEFT,       /* left alone by the policy (ignore) */
    SERVICE_ASK,        /* beyond the limit: nothing set, the person decides */
    SERVICE_FAILED,     /* the system refused to set it: error */
    SERVICE_NO_READING, /* the exchange failed: failure, error and text say how */
    SERVICE_REFUSED,    /* the request is not one it serves: text says why */
    SERVICE_BUSY,       /* other clients' readings left no time for this one's */
};

struct ServiceAnswer {
    int result;
    /* The Windows error (SERVICE_FAILED) or Windows Sockets error. */
    DWORD error;
    /* SERVICE_NO_READING: the engine's FailureKind. */
    int failure;
    /* The reading, after the policy. */
    int precise;
    LONGLONG localClock;
    LONGLONG offset;
    LONGLONG serverTime;
    LONGLONG localTime;
    DWORD lag;
    DWORD connectTime;
    char label[8];
    /* The machine's maxAdjust, which SERVICE_ASK's question names. */
    DWORD maxAdjust;
    /* An NTS reading: every server of it proved its replies. */
    BOOL authenticated;
    char text[SERVICE_TEXT_SIZE];
    /* Of a reading of several servers: each server asked, how many
       answered and agreed (sourceCount 0 for one server). */
    int sourceCount;
    int sourcesAnswered;
    int sourcesAgreeing;
    SourceReport sources[MOST_SOURCES];
};

/* The bytes of a message; each returns its size. */
DWORD EncodeServiceRequest(const ServiceRequest *request, BYTE *message);
DWORD EncodeServiceAnswer(const ServiceAnswer *answer, BYTE *message);

/* True for exactly one well-formed message of the format: its size, its
   mark and version, known values, a terminated text. */
BOOL DecodeServiceRequest(const BYTE *message, DWORD size, ServiceRequest *request);
BOOL DecodeServiceAnswer(const BYTE *message, DWORD size, ServiceAnswer *answer);

/* The version a message of the format says it is (a request's or an
   answer's mark), or 0 for no message of the format at all. */
int ServiceRequestVersion(const BYTE *message, DWORD size);
int ServiceAnswerVersion(const BYTE *message, DWORD size);

/* One overlapped read or write on a pipe that waits waitMs at most, and
   not past giveUp being set (null: no such event); false when it did not
   complete (a message longer than size fails a read), and then nothing of
   it is left pending. */
BOOL TransferOnPipe(HANDLE pipe, BOOL writing, BYTE *data, DWORD size, DWORD *done,
                    DWORD waitMs, HANDLE giveUp);

/* Why the program could not have the service set the clock. */
enum ServiceTrouble {
    SERVICE_ANSWERED,
    SERVICE_NOT_INSTALLED,
    SERVICE_NOT_RUNNING,
    SERVICE_NOT_BELIEVED, /* the pipe's server is not the service's process */
    SERVICE_SILENT,       /* no well-formed answer in time */
    SERVICE_PIPE_BUSY,    /* every instance of its pipe was serving others */
    SERVICE_DENIED,       /* the pipe refused this user */
    SERVICE_NO_PIPE,      /* running, but its pipe is not there */
    SERVICE_UNREACHABLE,  /* the pipe could not be opened: answer->error says why */
    SERVICE_OTHER_VERSION, /* it answers in another version of the messages: answer->error */
};

/* Asks the service, believing only the service itself: SERVICE_ANSWERED
   with its answer, or the trouble.  It waits for the answer longer than
   the service's deadline.  Setting dropped (if given) gives the call up:
   the pipe is left, and the service then sets nothing. */
ServiceTrouble AskTimeService(const ServiceRequest *request, ServiceAnswer *answer,
                              HANDLE dropped);

/* The line that says why the clock was not set, for the trouble, or for
   the service's refusal or busy answer (answer, when given). */
void DescribeServiceTrouble(ServiceTrouble trouble, const ServiceAnswer *answer, char *text,
                            size_t size);

/* A reading the service took, into the sample (its times, label and what
   it did). */
void TakeServiceReading(const ServiceAnswer *answer, TimeSample *sample);

/* The request for the reading of host, or false for a host the message
   cannot hold. */
BOOL MakeServiceRequest(const char *host, int protocol, int mode, DWORD limit,
                        ServiceRequest *request);

#endif
