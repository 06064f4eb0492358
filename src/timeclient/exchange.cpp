/* One exchange of a fetch: one server, its addresses in turn, its socket
   and its one deadline, from the packet's spacing to the reading. */
#include "timeclient/fetchrecord.h"

#include <string.h>

#include <ntsecapi.h>

#include "base/precisetime.h"
#include "timeclient/manners.h"
#include "timeclient/ntsjar.h"
#include "timeclient/ntske.h"
#include "timeclient/sockerr.h"

#define TIME_EVENTS (FD_READ | FD_CONNECT | FD_CLOSE)
/* UDP has no connection: a read, or an error the stack reports. */
#define SNTP_EVENTS (FD_READ | FD_CLOSE)

void FailExchange(Exchange *exchange, FailureKind failure, int socketError, const char *format,
                  ...)
{
    va_list args;
    va_start(args, format);
    FormatTextV(exchange->report, sizeof exchange->report, format, args);
    va_end(args);
    exchange->failure = failure;
    exchange->socketError = socketError;
}

/* The name as a report shows it: a control character would split it. */
static const char *ShownName(const Exchange *exchange, char *shown, size_t size)
{
    CopyPrintable(shown, size, exchange->name);
    return shown;
}

BOOL ExchangeWaits(const Exchange *exchange)
{
    return exchange->phase == PHASE_RESOLVING || exchange->phase == PHASE_KEYING
           || exchange->phase == PHASE_SPACED
           || exchange->phase == PHASE_CONNECTING || exchange->phase == PHASE_SENT;
}

static int WalkedCount(const Exchange *exchange)
{
    int count = exchange->addresses.count;
    return exchange->walks && count > WALKED_ADDRESSES ? WALKED_ADDRESSES : count;
}

static BOOL MoreAddressesFollow(const Exchange *exchange)
{
    return exchange->addressIndex + 1 < WalkedCount(exchange);
}

/* Another address of the name, or another server of the fetch, could
   answer instead: this one has the shorter limits. */
static BOOL AlternativesRemain(const TimeRequest *request, const Exchange *exchange)
{
    return MoreAddressesFollow(exchange) || OthersMayFollow(request, exchange);
}

static const SOCKADDR_STORAGE *AddressInUse(const Exchange *exchange)
{
    return &exchange->addresses.items[exchange->addressIndex];
}

static void SetDue(TimeRequest *request, Exchange *exchange, DWORD ms)
{
    exchange->hasDue = TRUE;
    exchange->due = GetTickCount() + ms;
    ArmFetchTimer(request);
}

/* The one place an exchange's socket is closed.  A reply that comes later
   finds no socket, and none is ours any more. */
void CloseExchange(TimeRequest *request, Exchange *exchange)
{
    exchange->hasDue = FALSE;
    if (exchange->sock != INVALID_SOCKET) {
        closesocket(exchange->sock);
        exchange->sock = INVALID_SOCKET;
    }
    exchange->sntp.answered = 1;
    ReleaseBackgroundJob(exchange->job);
    exchange->job = NULL;
    ArmFetchTimer(request);
}

static void NoteSocketError(Exchange *exchange, int code)
{
    char name[TEXT_BUFFER_SIZE];
    FailExchange(exchange, FAILURE_EXCHANGE, code, "No answer from: %s (%d: %s)",
                 ShownName(exchange, name, sizeof name), code, SocketErrorText(code));
}

/* A socket for the address (SNTP and NTS: its NTPv4 server), its
   notifications going to the owner. */
static BOOL OpenExchangeSocket(TimeRequest *request, Exchange *exchange,
                               const SOCKADDR_STORAGE *address)
{
    BOOL sntp = request->protocol != PROTOCOL_TIME;
    exchange->sock = socket(address->ss_family, sntp ? SOCK_DGRAM : SOCK_STREAM,
                            sntp ? IPPROTO_UDP : IPPROTO_TCP);
    if (exchange->sock == INVALID_SOCKET) {
        FailExchange(exchange, FAILURE_SOCKET, WSAGetLastError(), "horavex: could not get socket");
        return FALSE;
    }
    if (request->transport->watchSocket(request->context, exchange->sock,
                                        sntp ? SNTP_EVENTS : TIME_EVENTS))
        return TRUE;
    FailExchange(exchange, FAILURE_SOCKET, WSAGetLastError(), "WSAAsyncSelect Error!");
    return FALSE;
}

/* The server the packets go to: NTS's from its key exchange. */
static const SOCKADDR_STORAGE *PacketAddress(const TimeRequest *request, const Exchange *exchange)
{
    return request->protocol == PROTOCOL_NTS ? &exchange->ntpAddress : AddressInUse(exchange);
}

static int PacketAddressLength(const TimeRequest *request, const Exchange *exchange)
{
    return request->protocol == PROTOCOL_NTS ? exchange->ntpAddressLength
                                             : exchange->addresses.lengths[exchange->addressIndex];
}

static BOOL HasNtsCookie(const Exchange *exchange);
static BOOL StartKeyExchange(TimeRequest *request, Exchange *exchange);
static BOOL SendNtsPacket(Exchange *exchange, ServerManners *manners);

/* The packet goes, and the time limit for its answer starts.  NTS
   cookies that ran out while the packet waited make a key exchange
   first. */
static BOOL SendPacket(TimeRequest *request, Exchange *exchange)
{
    if (request->protocol == PROTOCOL_NTS && !HasNtsCookie(exchange)) {
        CloseExchange(request, exchange);
        return StartKeyExchange(request, exchange);
    }
    ServerManners *manners = MannersOfAddress(PacketAddress(request, exchange));
    BOOL sent = manners != NULL
                && (request->protocol == PROTOCOL_NTS
                        ? SendNtsPacket(exchange, manners)
                        : SendSntpRequest(exchange->sock, &exchange->sntp, manners));
    if (!sent) {
        NoteSocketError(exchange, WSAGetLastError());
        return FALSE;
    }
    exchange->connectTime = GetTickCount() - exchange->startTick;
    exchange->phase = PHASE_SENT;
    SetDue(request, exchange,
           AlternativesRemain(request, exchange) ? ADDRESS_TIME_LIMIT_MS : SNTP_TIME_LIMIT_MS);
    return TRUE;
}

/* An address that refused us, or asked for fewer requests than a fetch
   waits out, gets no packet; while another address (or server) could
   answer instead, one that asked for fewer requests at all gives way. */
static BOOL TrySntpAddress(TimeRequest *request, Exchange *exchange)
{
    char name[TEXT_BUFFER_SIZE];
    DWORD waitMs = 0;
    ServerManners *manners = MannersOfAddress(PacketAddress(request, exchange));
    DWORD longestWaitMs =
        AlternativesRemain(request, exchange) ? SNTP_SPACING_MS : SNTP_LONGEST_WAIT_MS;
    ShownName(exchange, name, sizeof name);
    if (manners == NULL) {
        FailExchange(exchange, FAILURE_HELD, 0, "Refused by too many servers: no request sent to %s",
                     name);
        return FALSE;
    }
    if (!SntpSendAllowed(manners, name, longestWaitMs, &waitMs, exchange->report,
                         sizeof exchange->report)) {
        exchange->failure = FAILURE_HELD;
        exchange->socketError = 0;
        return FALSE;
    }
    if (!OpenExchangeSocket(request, exchange, PacketAddress(request, exchange)))
        return FALSE;
    /* Connected, the stack drops datagrams from any other address or port. */
    if (connect(exchange->sock, (const struct sockaddr *)PacketAddress(request, exchange),
                PacketAddressLength(request, exchange))
        != 0) {
        NoteSocketError(exchange, WSAGetLastError());
        return FALSE;
    }
    if (waitMs == 0)
        return SendPacket(request, exchange);
    exchange->phase = PHASE_SPACED;
    SetDue(request, exchange, waitMs);
    return TRUE;
}

static BOOL TryTimeAddress(TimeRequest *request, Exchange *exchange)
{
    if (!OpenExchangeSocket(request, exchange, AddressInUse(exchange)))
        return FALSE;
    /* Non-blocking: the outcome arrives as FD_CONNECT. */
    connect(exchange->sock, (const struct sockaddr *)AddressInUse(exchange),
            exchange->addresses.lengths[exchange->addressIndex]);
    exchange->phase = PHASE_CONNECTING;
    exchange->hasDue = FALSE;
    if (AlternativesRemain(request, exchange))
        SetDue(request, exchange, ADDRESS_TIME_LIMIT_MS);
    return TRUE;
}

static void AddressFailed(TimeRequest *request, Exchange *exchange);

/* NTS: a key exchange beside the owner, and the NTPv4 server it names. */
struct KeyExchangeWork {
    char name[TEXT_BUFFER_SIZE];
    SOCKADDR_STORAGE address;
    int addressLength;
    char trust[MAX_PATH];
    NtsKeResult result;
    SOCKADDR_STORAGE ntpAddress;
    int ntpAddressLength;
    int lookupError;
};

/* The NTPv4 server the key exchange named (in its own family where the
   name has one), or its own address, at the port it named or 123. */
static void FindNtpServer(KeyExchangeWork *work)
{
    u_short port = (u_short)(work->result.port != 0 ? work->result.port : SNTP_PORT);
    if (work->result.server[0] == '\0') {
        work->ntpAddress = work->address;
        work->ntpAddressLength = work->addressLength;
        SetAddressPort(&work->ntpAddress, port);
        return;
    }
    ServerAddresses found;
    work->lookupError = ResolveServer(work->result.server, port, SOCK_DGRAM, &found);
    if (work->lookupError != 0)
        return;
    int chosen = 0;
    for (int i = 0; i < found.count; i++)
        if (found.items[i].ss_family == work->address.ss_family) {
            chosen = i;
            break;
        }
    work->ntpAddress = found.items[chosen];
    work->ntpAddressLength = found.lengths[chosen];
}

static void ExchangeKeys(void *data, HANDLE dropped)
{
    KeyExchangeWork *work = (KeyExchangeWork *)data;
    RunNtsKeyExchange(work->name, &work->address, work->addressLength,
                      work->trust[0] != '\0' ? work->trust : NULL, NTS_KE_TIME_LIMIT_MS, dropped,
                      &work->result);
    if (work->result.failure == NTS_KE_DONE)
        FindNtpServer(work);
}

/* No cookies for the server: a key exchange first. */
static BOOL StartKeyExchange(TimeRequest *request, Exchange *exchange)
{
    KeyExchangeWork work;
    memset(&work, 0, sizeof work);
    lstrcpynA(work.name, exchange->keName, sizeof work.name);
    work.address = *AddressInUse(exchange);
    work.addressLength = exchange->addresses.lengths[exchange->addressIndex];
    lstrcpynA(work.trust, request->ntsTrust, sizeof work.trust);
    exchange->phase = PHASE_KEYING;
    exchange->hasDue = FALSE;
    exchange->jobTag = NextTag(request);
    exchange->job = StartBackgroundJob(ExchangeKeys, &work, sizeof work,
                                       request->transport->workDone, request->context,
                                       exchange->jobTag);
    if (exchange->job != NULL)
        return TRUE;
    FailExchange(exchange, FAILURE_SOCKET, WSA_NOT_ENOUGH_MEMORY,
                 "horavex: could not start a key exchange");
    return FALSE;
}

/* NTS: with cookies in hand the packet goes (or waits out its spacing);
   without, the key exchange comes first. */
static BOOL TryNtsAddress(TimeRequest *request, Exchange *exchange)
{
    NtsJarEntry *entry = FindNtsServer(exchange->keName, AddressInUse(exchange));
    if (entry == NULL || entry->cookieCount == 0)
        return StartKeyExchange(request, exchange);
    exchange->ntpAddress = entry->ntpAddress;
    exchange->ntpAddressLength = entry->ntpAddressLength;
    return TrySntpAddress(request, exchange);
}

static BOOL RandomBytes(BYTE *out, ULONG size)
{
    return RtlGenRandom(out, size);
}

static BOOL HasNtsCookie(const Exchange *exchange)
{
    NtsJarEntry *entry = FindNtsServer(exchange->keName, AddressInUse(exchange));
    return entry != NULL && entry->cookieCount > 0;
}

/* One cookie, used once, for a request with a fresh identifier and
   nonce. */
static BOOL SendNtsPacket(Exchange *exchange, ServerManners *manners)
{
    NtsJarEntry *entry = FindNtsServer(exchange->keName, AddressInUse(exchange));
    NtsCookie cookie;
    if (entry == NULL || !TakeNtsCookie(entry, &cookie)) {
        WSASetLastError(WSAENOBUFS);
        return FALSE;
    }
    BYTE nonce[NTS_NONCE_SIZE];
    BYTE packet[LARGEST_DATAGRAM];
    exchange->nts.sawForgery = FALSE;
    exchange->sntp.cookie = NewSntpCookie();
    int length = 0;
    if (RandomBytes(exchange->nts.uid, sizeof exchange->nts.uid)
        && RandomBytes(nonce, sizeof nonce))
        length = BuildNtsRequest(packet, sizeof packet, exchange->sntp.cookie, &exchange->nts,
                                 &cookie, NtsCookiesToAsk(entry->cookieCount, cookie.length),
                                 entry->keys.c2s, nonce);
    SecureZeroMemory(&cookie, sizeof cookie);
    if (length == 0) {
        WSASetLastError(WSAEMSGSIZE);
        return FALSE;
    }
    return SendSntpPacket(exchange->sock, &exchange->sntp, manners, packet, length);
}

/* Why a key exchange gave no keys, in the program's words. */
static void NoteKeyFailure(Exchange *exchange, const NtsKeResult *result)
{
    char name[TEXT_BUFFER_SIZE];
    ShownName(exchange, name, sizeof name);
    switch (result->failure) {
    case NTS_KE_NO_CONNECTION:
        FailExchange(exchange, FAILURE_EXCHANGE, result->socketError,
                     "No secure connection to: %s (%s: %d: %s)", name, result->reason,
                     result->socketError, SocketErrorText(result->socketError));
        break;
    case NTS_KE_NOT_TRUSTED:
        FailExchange(exchange, FAILURE_EXCHANGE, 0, "Certificate not trusted: %s (%s)", name,
                     result->reason);
        break;
    case NTS_KE_WRONG_NAME:
        FailExchange(exchange, FAILURE_EXCHANGE, 0, "Certificate not for: %s", name);
        break;
    case NTS_KE_NO_NTS:
        FailExchange(exchange, FAILURE_EXCHANGE, 0, "No NTS at: %s (%s)", name, result->reason);
        break;
    default:
        FailExchange(exchange, FAILURE_EXCHANGE, 0, "No secure connection to: %s (%s)", name,
                     result->reason);
        break;
    }
}

void OnExchangeKeyed(TimeRequest *request, Exchange *exchange, RequestOutcome *)
{
    KeyExchangeWork *work = (KeyExchangeWork *)FinishedJobData(exchange->job);
    NtsJarEntry *entry = NULL;
    char name[TEXT_BUFFER_SIZE];
    if (work->result.failure != NTS_KE_DONE) {
        NoteKeyFailure(exchange, &work->result);
    } else if (work->lookupError != 0) {
        FailExchange(exchange, FAILURE_EXCHANGE, work->lookupError,
                     "No NTS at: %s (its NTPv4 server %s is unknown)",
                     ShownName(exchange, name, sizeof name), work->result.server);
    } else {
        entry = KeepNtsServer(exchange->keName, AddressInUse(exchange), &work->result,
                              &work->ntpAddress, work->ntpAddressLength);
        if (entry == NULL)
            FailExchange(exchange, FAILURE_SOCKET, WSA_NOT_ENOUGH_MEMORY,
                         "horavex: could not keep the keys");
    }
    /* Nothing of the keys stays in memory that is given back. */
    SecureZeroMemory(&work->result.keys, sizeof work->result.keys);
    SecureZeroMemory(work->result.cookies, sizeof work->result.cookies);
    ReleaseBackgroundJob(exchange->job);
    exchange->job = NULL;
    if (entry != NULL) {
        exchange->ntpAddress = entry->ntpAddress;
        exchange->ntpAddressLength = entry->ntpAddressLength;
        if (TrySntpAddress(request, exchange))
            return;
    }
    AddressFailed(request, exchange);
}

/* Of a fetch that asks several servers, its first round asks no address
   twice: two names for one server count once.  Later rounds ask each
   server chosen at its own address again. */
static BOOL AskedAlready(TimeRequest *request, const SOCKADDR_STORAGE *address)
{
    if (request->sources <= 1 || request->round != 1)
        return FALSE;
    for (int i = 0; i < request->askedCount; i++)
        if (SameAddress(&request->asked[i], address))
            return TRUE;
    if (request->askedCount < MOST_EXCHANGES * WALKED_ADDRESSES)
        request->asked[request->askedCount++] = *address;
    return FALSE;
}

/* From the address in use on, until one is under way; when none is, the
   last one's failure is the exchange's, with the count of addresses. */
static void TryAddresses(TimeRequest *request, Exchange *exchange)
{
    for (; exchange->addressIndex < WalkedCount(exchange); exchange->addressIndex++) {
        if (AskedAlready(request, AddressInUse(exchange)))
            continue;
        exchange->tried++;
        BOOL underWay = request->protocol == PROTOCOL_SNTP  ? TrySntpAddress(request, exchange)
                        : request->protocol == PROTOCOL_NTS ? TryNtsAddress(request, exchange)
                                                            : TryTimeAddress(request, exchange);
        if (underWay)
            return;
        CloseExchange(request, exchange);
    }
    exchange->phase = PHASE_FAILED;
    if (exchange->tried == 0) {
        exchange->duplicate = TRUE;
        return;
    }
    if (WalkedCount(exchange) > 1) {
        char count[48];
        FormatText(count, sizeof count, ", %d addresses tried", WalkedCount(exchange));
        size_t length = strlen(exchange->report);
        lstrcpynA(exchange->report + length, count, (int)(sizeof exchange->report - length));
    }
}

/* The address in use failed (its report says how): the next one of the
   name. */
static void AddressFailed(TimeRequest *request, Exchange *exchange)
{
    CloseExchange(request, exchange);
    exchange->addressIndex++;
    TryAddresses(request, exchange);
}

void StartExchangeAt(TimeRequest *request, Exchange *exchange, RequestOutcome *)
{
    exchange->startTick = GetTickCount();
    exchange->connectTime = 0;
    exchange->reply.length = 0;
    exchange->sntp.answered = 1;
    exchange->hasDue = FALSE;
    exchange->tried = 0;
    if (exchange->addresses.count == 0) {
        exchange->phase = PHASE_FAILED;
        return;
    }
    TryAddresses(request, exchange);
}

void OnExchangeLookedUp(TimeRequest *request, Exchange *exchange, RequestOutcome *outcome)
{
    int error = LookupResult(exchange->job, &exchange->addresses);
    ReleaseBackgroundJob(exchange->job);
    exchange->job = NULL;
    if (error != 0) {
        char name[TEXT_BUFFER_SIZE];
        FailExchange(exchange, FAILURE_SOCKET, error, "horavex: %s: unknown host",
                     ShownName(exchange, name, sizeof name));
        exchange->phase = PHASE_FAILED;
        return;
    }
    exchange->addressIndex = 0;
    StartExchangeAt(request, exchange, outcome);
}

/* A reading is in: the socket closes, and the fetch decides what follows.
   Of several servers, the address that answered is the one the later
   rounds ask. */
static void TakeExchangeReading(TimeRequest *request, Exchange *exchange)
{
    exchange->sample.connectTime = exchange->connectTime;
    exchange->phase = PHASE_ANSWERED;
    CloseExchange(request, exchange);
    if (request->sources > 1 && exchange->addressIndex != 0) {
        exchange->addresses.items[0] = exchange->addresses.items[exchange->addressIndex];
        exchange->addresses.lengths[0] = exchange->addresses.lengths[exchange->addressIndex];
        exchange->addressIndex = 0;
    }
    if (request->sources > 1)
        exchange->addresses.count = 1;
}

/* The Time protocol: connect, then the four bytes. */
static void OnTimeSocket(TimeRequest *request, Exchange *exchange, long event, int error)
{
    if (error != 0) {
        FailExchange(exchange, FAILURE_CONNECTION, error, "Error connecting to: %s",
                     exchange->name);
        AddressFailed(request, exchange);
        return;
    }
    if (event == FD_CONNECT) {
        /* A server that accepts and never answers must not hold the
           request for ever: its four bytes have a time limit too. */
        exchange->connectTime = GetTickCount() - exchange->startTick;
        exchange->phase = PHASE_SENT;
        SetDue(request, exchange,
               AlternativesRemain(request, exchange) ? ADDRESS_TIME_LIMIT_MS : TIME_REPLY_LIMIT_MS);
        return;
    }
    /* Before its own connection, a read or close is a late one of the
       closed socket whose handle this one got.  A close may still leave the
       reply to read; without one it ends the request like an empty read. */
    if ((event != FD_READ && event != FD_CLOSE) || exchange->phase != PHASE_SENT)
        return;
    int received = ReceiveTime(&exchange->sample, exchange->sock, &exchange->reply,
                               exchange->startTick);
    if (NothingToRead(received))
        return;
    if (received != REPLY_BYTES) {
        /* No reading, and nothing to say. */
        exchange->failure = FAILURE_NONE;
        exchange->report[0] = '\0';
        exchange->phase = PHASE_FAILED;
        CloseExchange(request, exchange);
        return;
    }
    exchange->sample.precise = FALSE;
    TakeExchangeReading(request, exchange);
}

static void NoteVerdict(const TimeRequest *request, Exchange *exchange, SntpVerdict verdict,
                        const char *reason)
{
    char name[TEXT_BUFFER_SIZE];
    ShownName(exchange, name, sizeof name);
    const ServerManners *manners = MannersOfAddress(PacketAddress(request, exchange));
    switch (verdict) {
    case SNTP_UNSYNCHRONISED:
        FailExchange(exchange, FAILURE_EXCHANGE, 0, "Not synchronised: %s (%s)", name, reason);
        break;
    case SNTP_REFUSED:
        FailExchange(exchange, FAILURE_EXCHANGE, 0,
                     "Refused by: %s (%s): no more requests go to it", name, reason);
        break;
    case SNTP_SLOW_DOWN:
        FailExchange(exchange, FAILURE_EXCHANGE, 0,
                     "Asked to slow down by: %s (%s): no request for %lu s", name, reason,
                     (unsigned long)(manners != NULL ? manners->holdMs / 1000 : 0));
        break;
    case SNTP_UNCERTAIN:
        FailExchange(exchange, FAILURE_EXCHANGE, 0, "Too uncertain: %s (%s)", name, reason);
        break;
    default:
        FailExchange(exchange, FAILURE_EXCHANGE, 0, "Invalid reply from: %s (%s)", name, reason);
        break;
    }
}

/* Of a calibrated fetch, the exchange with the smallest delay counts, as
   NTP clients choose. */
static void KeepBest(Exchange *exchange, const SntpMeasure *measure)
{
    if (exchange->haveBest && measure->delay >= exchange->bestDelay)
        return;
    exchange->haveBest = TRUE;
    exchange->bestDelay = measure->delay;
    exchange->best.offset = measure->offset;
    exchange->best.delay = measure->delay;
    exchange->best.rootDelay = measure->rootDelay;
    exchange->best.rootDispersion = measure->rootDispersion;
}

/* A good reply's measure is the exchange's reading. */
static void TakeSntpMeasure(TimeRequest *request, Exchange *exchange, const SntpMeasure *measure)
{
    TimeSample *sample = &exchange->sample;
    sample->precise = TRUE;
    sample->localClock = measure->localClock;
    sample->offset = measure->offset;
    sample->delay = measure->delay;
    sample->lag = (DWORD)TicksToMs(measure->delay);
    KeepBest(exchange, measure);
    TakeExchangeReading(request, exchange);
}

static void OnSntpSocket(TimeRequest *request, Exchange *exchange, long event, int error)
{
    /* A port that nothing listens on comes back as an error of the socket. */
    if (error != 0) {
        NoteSocketError(exchange, error);
        AddressFailed(request, exchange);
        return;
    }
    if (event != FD_READ)
        return;
    SntpReply reply;
    SntpMeasure measure;
    int socketError = 0;
    ServerManners *manners = MannersOfAddress(PacketAddress(request, exchange));
    SntpVerdict verdict = ReceiveSntpReply(exchange->sock, &exchange->sntp, manners,
                                           request->periodMs, &reply, &measure, &socketError);
    if (socketError != 0)
        NoteSocketError(exchange, socketError);
    else if (verdict == SNTP_NOT_OURS)
        return;
    else if (verdict != SNTP_GOOD)
        NoteVerdict(request, exchange, verdict, reply.reason);
    if (socketError != 0 || verdict != SNTP_GOOD) {
        AddressFailed(request, exchange);
        return;
    }
    TakeSntpMeasure(request, exchange, &measure);
}

/* A reading under NTS is believed only while the certificate was valid
   at the time the server gives: checked here, since the clock may be far
   off. */
static BOOL ValidAtServerTime(Exchange *exchange, const SntpMeasure *measure)
{
    NtsJarEntry *entry = FindNtsServer(exchange->keName, AddressInUse(exchange));
    LONGLONG now = measure->localClock + measure->offset;
    char name[TEXT_BUFFER_SIZE];
    if (entry == NULL || entry->notAfter == 0
        || (now >= entry->notBefore && now <= entry->notAfter))
        return TRUE;
    FailExchange(exchange, FAILURE_EXCHANGE, 0, "Certificate not valid at the server's time: %s (%s)",
                 ShownName(exchange, name, sizeof name),
                 now < entry->notBefore ? "not yet valid" : "expired");
    return FALSE;
}

/* NTS: a reply counts only with our identifier and the server's seal;
   one changed on the way is left unread (the real one may follow), and is
   what the time limit then reports.  A NAK (the server changed its keys)
   makes one new key exchange in the same fetch. */
static void OnNtsSocket(TimeRequest *request, Exchange *exchange, long event, int error)
{
    if (error != 0) {
        NoteSocketError(exchange, error);
        AddressFailed(request, exchange);
        return;
    }
    BYTE packet[LARGEST_DATAGRAM];
    LONGLONG arrived = 0;
    SntpReply reply;
    int socketError = 0;
    if (event != FD_READ)
        return;
    int length = ReceiveSntpDatagram(exchange->sock, packet, &arrived, &reply, &socketError);
    if (socketError != 0) {
        NoteSocketError(exchange, socketError);
        AddressFailed(request, exchange);
        return;
    }
    if (length < 0 || exchange->phase != PHASE_SENT
        || CheckSntpReply(packet, length, exchange->sntp.cookie, exchange->sntp.answered, &reply)
               == SNTP_NOT_OURS)
        return;
    NtsJarEntry *entry = FindNtsServer(exchange->keName, AddressInUse(exchange));
    NtsCookie cookies[NTS_MOST_COOKIES];
    int cookieCount = 0;
    NtsCheck check = entry != NULL ? CheckNtsReply(packet, length, &exchange->nts,
                                                   entry->keys.s2c, cookies, &cookieCount)
                                   : NTS_OTHERS;
    if (check == NTS_OTHERS)
        return;
    if (check == NTS_NOT_AUTHENTIC) {
        exchange->nts.sawForgery = TRUE;
        return;
    }
    if (check == NTS_NAK) {
        DropNtsCookies(entry);
        char name[TEXT_BUFFER_SIZE];
        if (!exchange->rekeyed) {
            exchange->rekeyed = TRUE;
            CloseExchange(request, exchange);
            if (StartKeyExchange(request, exchange))
                return;
        } else {
            FailExchange(exchange, FAILURE_EXCHANGE, 0,
                         "Refused by: %s (NTSN): its new keys were refused too",
                         ShownName(exchange, name, sizeof name));
        }
        AddressFailed(request, exchange);
        return;
    }
    AddNtsCookies(entry, cookies, cookieCount);
    SecureZeroMemory(cookies, sizeof cookies);
    SntpMeasure measure;
    ServerManners *manners = MannersOfAddress(&exchange->ntpAddress);
    SntpVerdict verdict = TakeSntpReply(packet, length, arrived, &exchange->sntp, manners,
                                        request->periodMs, &reply, &measure);
    if (verdict != SNTP_GOOD)
        NoteVerdict(request, exchange, verdict, reply.reason);
    if (verdict != SNTP_GOOD || !ValidAtServerTime(exchange, &measure)) {
        AddressFailed(request, exchange);
        return;
    }
    TakeSntpMeasure(request, exchange, &measure);
    exchange->sample.authenticated = TRUE;
}

void OnExchangeSocket(TimeRequest *request, Exchange *exchange, long event, int error,
                      RequestOutcome *)
{
    if (request->protocol == PROTOCOL_NTS)
        OnNtsSocket(request, exchange, event, error);
    else if (request->protocol == PROTOCOL_SNTP)
        OnSntpSocket(request, exchange, event, error);
    else
        OnTimeSocket(request, exchange, event, error);
}

void OnExchangeDue(TimeRequest *request, Exchange *exchange, RequestOutcome *)
{
    char name[TEXT_BUFFER_SIZE];
    exchange->hasDue = FALSE;
    switch (exchange->phase) {
    case PHASE_SPACED:
        if (SendPacket(request, exchange))
            return;
        break;
    case PHASE_SENT:
        FailExchange(exchange, FAILURE_EXCHANGE, 0,
                     exchange->nts.sawForgery ? "Reply not authenticated: %s" : "No answer from: %s",
                     ShownName(exchange, name, sizeof name));
        break;
    case PHASE_CONNECTING:
        FailExchange(exchange, FAILURE_CONNECTION, WSAETIMEDOUT, "Error connecting to: %s",
                     exchange->name);
        break;
    default:
        return;
    }
    AddressFailed(request, exchange);
}
