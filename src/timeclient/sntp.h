#ifndef HORAVEX_SNTP_H
#define HORAVEX_SNTP_H

#include "base/appstate.h"
#include "base/timesample.h"

/* SNTP version 4 (RFC 4330) over UDP, on the wire as RFC 5905 has it. */
#define SNTP_PORT 123
#define SNTP_PACKET_SIZE 48
/* No usable reply in this long ends the request. */
#define SNTP_TIME_LIMIT_MS 5000
/* Never more than one packet to a server in this long. */
#define SNTP_SPACING_MS 2000

enum SntpVerdict {
    SNTP_GOOD,
    SNTP_NOT_OURS,        /* not the reply to our packet: ignored */
    SNTP_INVALID,         /* a malformed reply */
    SNTP_UNSYNCHRONISED,  /* the server has no time to give */
    SNTP_REFUSED,         /* a DENY or RSTR kiss: nothing more goes to it */
    SNTP_SLOW_DOWN,       /* a RATE kiss */
    SNTP_UNCERTAIN,       /* root distance beyond the limit */
};

/* What a reply says, once checked. */
struct SntpReply {
    SntpVerdict verdict;
    /* Why it is not good, for the report; the kiss code for a kiss. */
    char reason[40];
    /* T2 and T3: the server's receive and transmit timestamps. */
    unsigned long long receive;
    unsigned long long transmit;
};

/* The client's packet: LI 0, VN 4, mode 3, every other field 0 but the
   transmit timestamp, which carries the cookie. */
void BuildSntpRequest(BYTE packet[SNTP_PACKET_SIZE], unsigned long long cookie);

/* Checks a reply, in turn, as careful clients do; answered: a reply was
   taken already for this packet. */
SntpVerdict CheckSntpReply(const BYTE *packet, int length, unsigned long long cookie,
                           BOOL answered, SntpReply *reply);

/* An NTP timestamp as ticks (base/precisetime.h), in the era that puts it
   within 68 years of reference. */
LONGLONG TicksFromNtp(unsigned long long timestamp, LONGLONG reference);
unsigned long long NtpFromTicks(LONGLONG ticks);

/* offset = ((T2 - T1) + (T3 - T4)) / 2, delay = (T4 - T1) - (T3 - T2). */
void SntpOffsetAndDelay(LONGLONG t1, LONGLONG t2, LONGLONG t3, LONGLONG t4, LONGLONG *offset,
                        LONGLONG *delay);

/* Milliseconds to wait before the next packet may go to the request's
   host; false (and report filled) when it may not go at all: the server
   refused us, or asked for fewer requests than that. */
BOOL SntpSendAllowed(AppState *state, DWORD *waitMs, char *report, size_t size);

/* Sends the request's packet: a fresh cookie, T1 taken.  False, with the
   Windows Sockets error left, when it could not go. */
BOOL SendSntpRequest(AppState *state);

/* Reads one datagram of the request's socket: what the reply said, or
   SNTP_NOT_OURS for nothing to take (and *socketError nonzero when the
   read failed).  A good reply fills the sample and the delay; a kiss is
   heeded. */
SntpVerdict ReceiveSntpReply(AppState *state, TimeSample *sample, SntpReply *reply,
                             int *socketError);

#endif
