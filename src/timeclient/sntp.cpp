#include "timeclient/sntp.h"

#include <ntsecapi.h>
#include <string.h>

#include "base/precisetime.h"
#include "base/textfmt.h"

#define NTP_VERSION 4
#define MODE_CLIENT 3
#define MODE_SERVER 4
#define LEAP_UNSYNCHRONISED 3
#define STRATUM_KISS 0
#define STRATUM_UNSYNCHRONISED 16
/* Offsets of the fields in the packet. */
#define ROOT_DELAY_AT 4
#define ROOT_DISPERSION_AT 8
#define REFERENCE_ID_AT 12
#define ORIGINATE_AT 24
#define RECEIVE_AT 32
#define TRANSMIT_AT 40
/* chrony's default maxdistance, 3 s, in NTP's short format (16.16): a
   server that far from its reference has no time to set a clock from. */
#define ROOT_DISTANCE_LIMIT (3UL << 16)
#define TICKS_1601_TO_1900 94354848000000000LL
/* The longest a RATE kiss holds a server off: about chrony's longest poll. */
#define HOLD_LIMIT_MS (36UL * 3600 * 1000)
/* chrony's default maxdelay, 3 s: a round trip that long says nothing
   about when the server read its clock. */
#define DELAY_LIMIT (3LL * TICKS_PER_SECOND)

static unsigned long long ReadTimestamp(const BYTE *field)
{
    unsigned long long value = 0;
    for (int i = 0; i < 8; i++)
        value = value << 8 | field[i];
    return value;
}

static DWORD ReadShort(const BYTE *field)
{
    return (DWORD)field[0] << 24 | (DWORD)field[1] << 16 | (DWORD)field[2] << 8 | field[3];
}

/* NTP's short format, 16.16 seconds, as ticks. */
static LONGLONG ShortToTicks(DWORD value)
{
    return (LONGLONG)(((unsigned long long)value * TICKS_PER_SECOND) >> 16);
}

void BuildSntpRequest(BYTE packet[SNTP_PACKET_SIZE], unsigned long long cookie)
{
    memset(packet, 0, SNTP_PACKET_SIZE);
    packet[0] = NTP_VERSION << 3 | MODE_CLIENT;
    for (int i = 7; i >= 0; i--, cookie >>= 8)
        packet[TRANSMIT_AT + i] = (BYTE)cookie;
}

static SntpVerdict Judge(SntpReply *reply, SntpVerdict verdict, const char *format, ...)
    HORAVEX_PRINTF(3, 4);

static SntpVerdict Judge(SntpReply *reply, SntpVerdict verdict, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    FormatTextV(reply->reason, sizeof reply->reason, format, args);
    va_end(args);
    reply->verdict = verdict;
    return verdict;
}

/* The kiss code, a text of four characters in the reference id. */
static SntpVerdict JudgeKiss(const BYTE *packet, SntpReply *reply)
{
    char code[5];
    memcpy(code, packet + REFERENCE_ID_AT, 4);
    code[4] = '\0';
    CopyPrintable(code, sizeof code, code);
    if (strcmp(code, "DENY") == 0 || strcmp(code, "RSTR") == 0)
        return Judge(reply, SNTP_REFUSED, "%s", code);
    if (strcmp(code, "RATE") == 0)
        return Judge(reply, SNTP_SLOW_DOWN, "%s", code);
    return Judge(reply, SNTP_UNSYNCHRONISED, "kiss code %s", code);
}

/* In turn: size, origin (only then is a kiss believed), mode, version,
   transmit and receive times, kiss, leap and stratum, root distance.  A
   reply that passed the origin check answers the packet, good or not. */
SntpVerdict CheckSntpReply(const BYTE *packet, int length, unsigned long long cookie,
                           BOOL answered, SntpReply *reply)
{
    memset(reply, 0, sizeof *reply);
    if (length < SNTP_PACKET_SIZE)
        return Judge(reply, SNTP_INVALID, "shorter than %d bytes", SNTP_PACKET_SIZE);
    if (answered || ReadTimestamp(packet + ORIGINATE_AT) != cookie)
        return Judge(reply, SNTP_NOT_OURS, "not ours");
    int leap = packet[0] >> 6;
    int version = packet[0] >> 3 & 7;
    int mode = packet[0] & 7;
    int stratum = packet[1];
    if (mode != MODE_SERVER)
        return Judge(reply, SNTP_INVALID, "mode %d, not a server's", mode);
    if (version < 1 || version > NTP_VERSION)
        return Judge(reply, SNTP_INVALID, "version %d", version);
    reply->receive = ReadTimestamp(packet + RECEIVE_AT);
    reply->transmit = ReadTimestamp(packet + TRANSMIT_AT);
    if (reply->transmit == 0)
        return Judge(reply, SNTP_INVALID, "no transmit time");
    /* Read in the era of the clock, a zero would be taken for 2036. */
    if (reply->receive == 0 && stratum != STRATUM_KISS)
        return Judge(reply, SNTP_INVALID, "no receive time");
    if (stratum == STRATUM_KISS)
        return JudgeKiss(packet, reply);
    if (leap == LEAP_UNSYNCHRONISED)
        return Judge(reply, SNTP_UNSYNCHRONISED, "leap indicator 3");
    if (stratum >= STRATUM_UNSYNCHRONISED)
        return Judge(reply, SNTP_UNSYNCHRONISED, "stratum %d", stratum);
    reply->rootDelay = ShortToTicks(ReadShort(packet + ROOT_DELAY_AT));
    reply->rootDispersion = ShortToTicks(ReadShort(packet + ROOT_DISPERSION_AT));
    unsigned long long distance = ReadShort(packet + ROOT_DELAY_AT) / 2
                                  + (unsigned long long)ReadShort(packet + ROOT_DISPERSION_AT);
    if (distance > ROOT_DISTANCE_LIMIT) {
        char seconds[32];
        FormatSeconds((LONGLONG)(distance * TICKS_PER_SECOND >> 16), seconds, sizeof seconds);
        return Judge(reply, SNTP_UNCERTAIN, "root distance %s s", seconds);
    }
    reply->verdict = SNTP_GOOD;
    return SNTP_GOOD;
}

LONGLONG TicksFromNtp(unsigned long long timestamp, LONGLONG reference)
{
    LONGLONG referenceSeconds = (reference - TICKS_1601_TO_1900) / TICKS_PER_SECOND;
    /* The server's seconds wrap every 136 years (era 1 began 2036-02-07):
       the nearer of the two readings is the one meant. */
    LONG ahead = (LONG)((DWORD)(timestamp >> 32) - (DWORD)referenceSeconds);
    unsigned long long fraction = timestamp & 0xFFFFFFFFULL;
    return TICKS_1601_TO_1900 + (referenceSeconds + ahead) * TICKS_PER_SECOND
           + (LONGLONG)((fraction * TICKS_PER_SECOND + (1ULL << 31)) >> 32);
}

unsigned long long NtpFromTicks(LONGLONG ticks)
{
    LONGLONG since1900 = ticks - TICKS_1601_TO_1900;
    unsigned long long seconds = (unsigned long long)(since1900 / TICKS_PER_SECOND);
    unsigned long long rest = (unsigned long long)(since1900 % TICKS_PER_SECOND);
    return (seconds & 0xFFFFFFFFULL) << 32 | ((rest << 32) / TICKS_PER_SECOND);
}

/* Halved before they are added: the sum of two differences of 68 years
   would not fit. */
void SntpOffsetAndDelay(LONGLONG t1, LONGLONG t2, LONGLONG t3, LONGLONG t4, LONGLONG *offset,
                        LONGLONG *delay)
{
    *offset = (t2 - t1) / 2 + (t3 - t4) / 2;
    *delay = (t4 - t1) - (t3 - t2);
}

SntpVerdict CheckSntpTimes(LONGLONG t1, LONGLONG t4, SntpReply *reply, SntpMeasure *measure)
{
    LONGLONG t2 = TicksFromNtp(reply->receive, t1);
    LONGLONG t3 = TicksFromNtp(reply->transmit, t1);
    /* A server sends after it received: before it by more than the whole
       round trip, its times cannot both be true. */
    if (t2 - t3 > t4 - t1)
        return Judge(reply, SNTP_INVALID, "transmit before receive");
    SntpOffsetAndDelay(t1, t2, t3, t4, &measure->offset, &measure->delay);
    /* A server that says it took longer than the whole exchange. */
    if (measure->delay < 0)
        measure->delay = 0;
    if (measure->delay > DELAY_LIMIT) {
        char seconds[32];
        FormatSeconds(measure->delay, seconds, sizeof seconds);
        return Judge(reply, SNTP_UNCERTAIN, "delay %s s", seconds);
    }
    measure->localClock = t4;
    measure->rootDelay = reply->rootDelay;
    measure->rootDispersion = reply->rootDispersion;
    reply->verdict = SNTP_GOOD;
    return SNTP_GOOD;
}

BOOL SntpSendAllowed(const ServerManners *manners, const char *host, DWORD longestWaitMs,
                     DWORD *waitMs, char *report, size_t size)
{
    *waitMs = 0;
    if (manners->refusal[0] != '\0') {
        FormatText(report, size, "Refused by: %s (%s): no request sent", host, manners->refusal);
        return FALSE;
    }
    if (!manners->sent)
        return TRUE;
    DWORD since = GetTickCount() - manners->lastSendTick;
    DWORD spacing = manners->holdMs > SNTP_SPACING_MS ? manners->holdMs : SNTP_SPACING_MS;
    if (since >= spacing)
        return TRUE;
    *waitMs = spacing - since;
    if (*waitMs <= longestWaitMs || *waitMs <= SNTP_SPACING_MS)
        return TRUE;
    FormatText(report, size, "Asked to slow down by: %s (RATE): no request for %lu s more", host,
               (unsigned long)((*waitMs + 999) / 1000));
    return FALSE;
}

static unsigned long long RandomCookie(void)
{
    unsigned long long cookie = 0;
    if (!RtlGenRandom(&cookie, sizeof cookie))
        cookie = (unsigned long long)MonotonicTicks() * 6364136223846793005ULL
                 ^ (unsigned long long)PreciseSystemTime();
    /* A zero transmit time means none: never the cookie. */
    return cookie != 0 ? cookie : 1;
}

unsigned long long NewSntpCookie(void)
{
    return RandomCookie();
}

BOOL SendSntpRequest(SOCKET sntpSocket, SntpExchange *exchange, ServerManners *manners)
{
    BYTE packet[SNTP_PACKET_SIZE];
    exchange->cookie = RandomCookie();
    BuildSntpRequest(packet, exchange->cookie);
    return SendSntpPacket(sntpSocket, exchange, manners, packet, sizeof packet);
}

BOOL SendSntpPacket(SOCKET sntpSocket, SntpExchange *exchange, ServerManners *manners,
                    const BYTE *packet, int length)
{
    exchange->answered = 0;
    exchange->sentAt = PreciseSystemTime();
    exchange->sentCounter = MonotonicTicks();
    if (send(sntpSocket, (const char *)packet, length, 0) != length)
        return FALSE;
    DWORD now = GetTickCount();
    manners->lastIntervalMs = manners->sent ? now - manners->lastSendTick : 0;
    manners->lastSendTick = now;
    manners->sent = 1;
    return TRUE;
}

/* RATE: at least twice the last interval, the last hold and the period at
   which this program asks anyway; DENY and RSTR: nothing more. */
static void HeedKiss(ServerManners *manners, SntpVerdict verdict, const char *code,
                     DWORD periodMs)
{
    if (verdict == SNTP_REFUSED) {
        lstrcpynA(manners->refusal, code, sizeof manners->refusal);
        return;
    }
    unsigned long long hold = 2ULL * SNTP_SPACING_MS;
    const unsigned long long intervals[] = {manners->lastIntervalMs, manners->holdMs, periodMs};
    for (unsigned long long interval : intervals)
        if (2 * interval > hold)
            hold = 2 * interval;
    manners->holdMs = hold > HOLD_LIMIT_MS ? HOLD_LIMIT_MS : (DWORD)hold;
}

int ReceiveSntpDatagram(SOCKET sntpSocket, BYTE *packet, LONGLONG *arrivedCounter,
                        SntpReply *reply, int *socketError)
{
    *socketError = 0;
    int length = recv(sntpSocket, (char *)packet, LARGEST_DATAGRAM, 0);
    *arrivedCounter = MonotonicTicks();
    if (length != SOCKET_ERROR)
        return length;
    int code = WSAGetLastError();
    /* No honest reply is that long: a reply all the same, and a bad one. */
    if (code == WSAEMSGSIZE) {
        Judge(reply, SNTP_INVALID, "longer than %d bytes", LARGEST_DATAGRAM);
        return -2;
    }
    if (code != WSAEWOULDBLOCK)
        *socketError = code;
    Judge(reply, SNTP_NOT_OURS, "nothing");
    return -1;
}

SntpVerdict ReceiveSntpReply(SOCKET sntpSocket, SntpExchange *exchange, ServerManners *manners,
                             DWORD periodMs, SntpReply *reply, SntpMeasure *measure,
                             int *socketError)
{
    BYTE packet[LARGEST_DATAGRAM];
    LONGLONG arrivedCounter = 0;
    int length = ReceiveSntpDatagram(sntpSocket, packet, &arrivedCounter, reply, socketError);
    if (length < 0)
        return reply->verdict;
    return TakeSntpReply(packet, length, arrivedCounter, exchange, manners, periodMs, reply,
                         measure);
}

SntpVerdict TakeSntpReply(const BYTE *packet, int length, LONGLONG arrivedCounter,
                          SntpExchange *exchange, ServerManners *manners, DWORD periodMs,
                          SntpReply *reply, SntpMeasure *measure)
{
    SntpVerdict verdict = CheckSntpReply(packet, length, exchange->cookie, exchange->answered, reply);
    if (verdict == SNTP_NOT_OURS)
        return verdict;
    exchange->answered = 1;
    if (verdict == SNTP_REFUSED || verdict == SNTP_SLOW_DOWN)
        HeedKiss(manners, verdict, reply->reason, periodMs);
    if (verdict != SNTP_GOOD)
        return verdict;
    /* T4 from the counter, so that a step of the clock meanwhile does not
       count as network time. */
    LONGLONG t1 = exchange->sentAt;
    return CheckSntpTimes(t1, t1 + (arrivedCounter - exchange->sentCounter), reply, measure);
}
