#ifndef HORAVEX_SNTP_H
#define HORAVEX_SNTP_H

#include <windows.h>
#include <winsock2.h>
#include <stddef.h>

#include "base/globals.h"

/* SNTP version 4 (RFC 4330) over UDP, on the wire as RFC 5905 has it. */
#define SNTP_PORT 123
#define SNTP_PACKET_SIZE 48
/* No usable reply in this long ends the request. */
#define SNTP_TIME_LIMIT_MS 5000
/* Never more than one packet to a server in this long. */
#define SNTP_SPACING_MS 2000
/* A fetch waits out a server's hold up to this long; a longer one ends it. */
#define SNTP_LONGEST_WAIT_MS 64000
/* No honest reply is longer: an NTS reply with its cookies fits. */
#define LARGEST_DATAGRAM 2048

enum SntpVerdict {
    SNTP_GOOD,
    SNTP_NOT_OURS,        /* not the reply to our packet: ignored */
    SNTP_INVALID,         /* a malformed reply */
    SNTP_UNSYNCHRONISED,  /* the server has no time to give */
    SNTP_REFUSED,         /* a DENY or RSTR kiss: nothing more goes to it */
    SNTP_SLOW_DOWN,       /* a RATE kiss */
    SNTP_UNCERTAIN,       /* root distance or delay beyond the limit */
};

/* What a reply says, once checked. */
struct SntpReply {
    SntpVerdict verdict;
    /* Why it is not good, for the report; the kiss code for a kiss. */
    char reason[40];
    /* T2 and T3: the server's receive and transmit timestamps. */
    unsigned long long receive;
    unsigned long long transmit;
    /* The server's own round trip and dispersion to its reference, in
       ticks. */
    LONGLONG rootDelay;
    LONGLONG rootDispersion;
};

/* One exchange: one packet out, one reply taken. */
struct SntpExchange {
    /* The transmit bits sent, random; a reply of ours carries them back. */
    unsigned long long cookie;
    /* T1: the local clock when the packet went, and the counter then, from
       which T4 is measured. */
    LONGLONG sentAt;
    LONGLONG sentCounter;
    /* A reply passed the origin check: any later one is not ours. */
    int answered;
};

/* What an exchange measured: the server's lead over the local clock at
   T4, and the round trip, in ticks (base/precisetime.h). */
struct SntpMeasure {
    LONGLONG localClock;
    LONGLONG offset;
    LONGLONG delay;
    LONGLONG rootDelay;
    LONGLONG rootDispersion;
};

/* How the program treats one server: not more than one packet every two
   seconds, fewer after it asked for that, none after it refused us. */
struct ServerManners {
    int sent;
    DWORD lastSendTick;
    DWORD lastIntervalMs;
    /* After a RATE kiss: at least this long between packets. */
    DWORD holdMs;
    /* After a DENY or RSTR kiss: nothing more goes to it. */
    char refusal[8];
};

/* The client's packet: LI 0, VN 4, mode 3, every other field 0 but the
   transmit timestamp, which carries the cookie. */
void BuildSntpRequest(BYTE packet[SNTP_PACKET_SIZE], unsigned long long cookie);

/* Checks a reply, in turn, as careful clients do; answered: a reply was
   taken already for this packet. */
SntpVerdict CheckSntpReply(const BYTE *packet, int length, unsigned long long cookie,
                           BOOL answered, SntpReply *reply);

/* The checks that need the client's own times (ticks): a reply whose
   times no honest server gives, or whose round trip is too long to trust. */
SntpVerdict CheckSntpTimes(LONGLONG t1, LONGLONG t4, SntpReply *reply, SntpMeasure *measure);

/* An NTP timestamp as ticks (base/precisetime.h), in the era that puts it
   within 68 years of reference. */
LONGLONG TicksFromNtp(unsigned long long timestamp, LONGLONG reference);
unsigned long long NtpFromTicks(LONGLONG ticks);

/* offset = ((T2 - T1) + (T3 - T4)) / 2, delay = (T4 - T1) - (T3 - T2). */
void SntpOffsetAndDelay(LONGLONG t1, LONGLONG t2, LONGLONG t3, LONGLONG t4, LONGLONG *offset,
                        LONGLONG *delay);

/* Milliseconds to wait before the next packet may go to the server; false
   (and report filled, host named as shown) when none may go now: it
   refused us, or its hold lasts longer than longestWaitMs. */
BOOL SntpSendAllowed(const ServerManners *manners, const char *host, DWORD longestWaitMs,
                     DWORD *waitMs, char *report, size_t size);

/* Sends an exchange's packet on a connected socket: a fresh cookie, T1
   taken, the manners told.  False, with the Windows Sockets error left,
   when it could not go. */
BOOL SendSntpRequest(SOCKET sntpSocket, SntpExchange *exchange, ServerManners *manners);

/* The same for a packet the caller made (NTS's), whose transmit time is
   exchange->cookie, from NewSntpCookie. */
unsigned long long NewSntpCookie(void);
BOOL SendSntpPacket(SOCKET sntpSocket, SntpExchange *exchange, ServerManners *manners,
                    const BYTE *packet, int length);

/* One datagram into packet (LARGEST_DATAGRAM bytes) and the counter when
   it came: its length; -1 for nothing to take (*socketError set when the
   read failed), -2 for one too long (reply says so). */
int ReceiveSntpDatagram(SOCKET sntpSocket, BYTE *packet, LONGLONG *arrivedCounter,
                        SntpReply *reply, int *socketError);

/* Every check of a datagram received (ReceiveSntpReply's after its read). */
SntpVerdict TakeSntpReply(const BYTE *packet, int length, LONGLONG arrivedCounter,
                          SntpExchange *exchange, ServerManners *manners, DWORD periodMs,
                          SntpReply *reply, SntpMeasure *measure);

/* Reads one datagram for the exchange: what it said, or SNTP_NOT_OURS for
   nothing to take (and *socketError nonzero when the read failed).  A good
   reply fills the measure; a kiss is heeded, its hold at least twice
   periodMs, the time until this program would ask the server again. */
SntpVerdict ReceiveSntpReply(SOCKET sntpSocket, SntpExchange *exchange, ServerManners *manners,
                             DWORD periodMs, SntpReply *reply, SntpMeasure *measure,
                             int *socketError);

#endif
