#ifndef HORAVEX_FETCHRECORD_H
#define HORAVEX_FETCHRECORD_H

/* The request engine's own record, for the engine's files alone
   (request.cpp, exchange.cpp and the transports): its owners see
   functions and outcomes, never these fields. */

#include <winsock2.h>
#include <windows.h>

#include "base/backgroundjob.h"
#include "base/textfmt.h"
#include "base/timesample.h"
#include "timeclient/ntske.h"
#include "timeclient/ntsntp.h"
#include "timeclient/outcome.h"
#include "timeclient/request.h"
#include "timeclient/resolve.h"
#include "timeclient/selection.h"
#include "timeclient/servicepipe.h"
#include "timeclient/sntp.h"
#include "timeclient/timeproto.h"
#include "timeclient/transport.h"

/* Servers one fetch may ask, whatever came of them. */
#define MOST_EXCHANGES MOST_SOURCES
/* A name's addresses that one exchange tries in turn. */
#define WALKED_ADDRESSES 4

/* Where one exchange is; exactly one at a time. */
enum ExchangePhase {
    PHASE_RESOLVING,  /* its name is looked up beside the owner */
    PHASE_KEYING,     /* NTS: its key exchange runs beside the owner */
    PHASE_SPACED,     /* its socket is ready; the packet waits out the spacing or a hold */
    PHASE_CONNECTING, /* the Time protocol's connection is under way */
    PHASE_SENT,       /* the packet went (or the connection came): the answer is awaited */
    PHASE_ANSWERED,   /* this round's reading is taken */
    PHASE_FAILED,     /* given up: failure, socketError and report say why */
};

/* One server of a fetch: a name whose addresses are tried in turn (the
   fetch's host, or an entry of the host list), or one address of the
   host when several servers are asked. */
struct Exchange {
    ExchangePhase phase;
    /* As reports name it: the name, or the address's text; and the name
       an NTS server's certificate must name. */
    char name[TEXT_BUFFER_SIZE];
    char keName[TEXT_BUFFER_SIZE];
    BOOL walks;
    ServerAddresses addresses;
    int addressIndex;
    /* Addresses tried this round (none: each was another's already). */
    int tried;
    SOCKET sock;
    /* The phase's one deadline: when the packet may go (spaced), when
       the answer or the connection is given up. */
    BOOL hasDue;
    DWORD due;
    BackgroundJob *job;
    WPARAM jobTag;
    DWORD startTick;
    DWORD connectTime;
    TimeReplyBytes reply;
    SntpExchange sntp;
    /* Its last reading, and of an SNTP server the best of the fetch's
       rounds (the smallest delay). */
    TimeSample sample;
    BOOL haveBest;
    SelectionCandidate best;
    LONGLONG bestDelay;
    /* Another name of a server this fetch asks already: counted once. */
    BOOL duplicate;
    /* NTS: the NTPv4 server its key exchange named, the request's own,
       and whether this fetch made a new key exchange after a NAK. */
    SOCKADDR_STORAGE ntpAddress;
    int ntpAddressLength;
    NtsRequestState nts;
    BOOL rekeyed;
    FailureKind failure;
    int socketError;
    char report[TEXT_BUFFER_SIZE];
};

enum FetchPhase {
    FETCH_AT_REST,
    FETCH_LOOKING_UP, /* several servers: the host's own addresses are looked up */
    FETCH_EXCHANGING, /* its exchanges run */
    FETCH_SPACING,    /* the program's own spacing, before the service asks the host */
    FETCH_ASKING,     /* the time service takes the reading that counts */
};

struct TimeRequest {
    /* Who hears of the sockets, the timer and the work beside. */
    const RequestTransport *transport;
    void *context;
    FetchPhase phase;
    /* The fetch, kept to its end whatever the settings say meanwhile. */
    char host[TEXT_BUFFER_SIZE];
    int protocol;
    DWORD port;
    DWORD periodMs;
    BOOL viaService;
    int sources;
    char ntsTrust[MAX_PATH];
    char list[MOST_EXCHANGES][TEXT_BUFFER_SIZE];
    BOOL haveListAddresses;
    ServerAddresses listAddresses[MOST_EXCHANGES];
    int listCount;
    int nextEntry;
    BOOL haveGivenAddresses;
    ServerAddresses givenAddresses;
    /* Of several servers: the host's own addresses, and the next one to
       ask. */
    ServerAddresses hostAddresses;
    int nextHostAddress;
    BackgroundJob *hostLookup;
    WPARAM hostLookupTag;
    /* The exchanges of this fetch, and its round (1, then a calibration
       each). */
    Exchange exchanges[MOST_EXCHANGES];
    int exchangeCount;
    int round;
    /* Of several servers, every address the first round asked: none is
       asked twice. */
    SOCKADDR_STORAGE asked[MOST_EXCHANGES * WALKED_ADDRESSES];
    int askedCount;
    DWORD calibrationsLeft;
    DWORD startTick;
    /* The fetch's one timer: at the earliest deadline of its exchanges. */
    BOOL timerArmed;
    DWORD timerDue;
    /* The time service: its spacing's end, its call beside the owner, what
       it is asked to accept; for a second request after "Big Change" the
       reading the person answered; why it could not take the reading. */
    DWORD serviceDue;
    BackgroundJob *serviceJob;
    WPARAM serviceTag;
    int serviceMode;
    DWORD serviceLimit;
    TimeSample answered;
    char whyNotSet[TEXT_BUFFER_SIZE];
    /* The addresses last looked up for the fetch's host, which the
       service's spacing is kept for. */
    ServerAddresses lastAddresses;
    char lastAddressesHost[TEXT_BUFFER_SIZE];
    WPARAM nextTag;
    /* Without a window: the event every socket signals, and the one that
       finished work sets. */
    WSAEVENT socketEvent;
    HANDLE workEvent;
};

/* From exchange.cpp: one exchange's life. */
void StartExchangeAt(TimeRequest *request, Exchange *exchange, RequestOutcome *outcome);
void CloseExchange(TimeRequest *request, Exchange *exchange);
void OnExchangeSocket(TimeRequest *request, Exchange *exchange, long event, int error,
                      RequestOutcome *outcome);
void OnExchangeDue(TimeRequest *request, Exchange *exchange, RequestOutcome *outcome);
void OnExchangeLookedUp(TimeRequest *request, Exchange *exchange, RequestOutcome *outcome);
void OnExchangeKeyed(TimeRequest *request, Exchange *exchange, RequestOutcome *outcome);
BOOL ExchangeWaits(const Exchange *exchange);
void FailExchange(Exchange *exchange, FailureKind failure, int socketError, const char *format,
                  ...) HORAVEX_PRINTF(4, 5);

/* From request.cpp: what the fetch does when an exchange settles, its
   timer, and the outcome's end. */
void OnExchangeSettled(TimeRequest *request, RequestOutcome *outcome);
void ArmFetchTimer(TimeRequest *request);
OutcomeKind FinishFetch(TimeRequest *request, RequestOutcome *outcome, OutcomeKind kind);
void ResetOutcome(RequestOutcome *outcome);
WPARAM NextTag(TimeRequest *request);
/* True while other servers could take this exchange's place. */
BOOL OthersMayFollow(const TimeRequest *request, const Exchange *exchange);

/* For the transports: a notification of one of the fetch's sockets, its
   timer, work beside it that is done (tag). */
OutcomeKind OnFetchSocket(TimeRequest *request, SOCKET sock, long event, int error,
                          RequestOutcome *outcome);
OutcomeKind OnFetchTimer(TimeRequest *request, RequestOutcome *outcome);
OutcomeKind OnFetchWorkDone(TimeRequest *request, WPARAM tag, RequestOutcome *outcome);
/* Starts a fetch told through transport (context: its owner). */
int StartFetchWith(TimeRequest *request, const RequestTransport *transport, void *context,
                   const FetchOrder *order, RequestOutcome *outcome);
int StartServiceAgainWith(TimeRequest *request, const RequestTransport *transport,
                          void *context, const TimeSample *answered, int mode, DWORD limit,
                          RequestOutcome *outcome);

#endif
