#ifndef HORAVEX_TIMEPROTO_H
#define HORAVEX_TIMEPROTO_H

#include <windows.h>
#include <winsock2.h>

#include "base/timesample.h"

/* The Time protocol (RFC 868) over TCP: the server's four bytes. */
#define TIME_PORT 37
#define REPLY_BYTES 4
/* ReceiveTime: part of the reply has come and is kept; the rest is awaited. */
#define REPLY_INCOMPLETE (-2)

/* The reply's bytes as they come: TCP may deliver them in pieces. */
struct TimeReplyBytes {
    BYTE bytes[REPLY_BYTES];
    DWORD length;
};

/* The reply's count of seconds since 1900, on the 1970 base, wrapping as
   the 32-bit server counter does in 2036. */
LONG ServerTimeFromReply(u_long reply);

/* Adds half the lag in whole seconds.  False for a time that cannot be
   shown or set: before 1970 or past 2038-01-19 03:14:07 UTC. */
BOOL CorrectForLag(LONG serverTime, DWORD lag, LONG *corrected);

/* 4 when a reading was taken (serverTime, localTime and lag, measured
   from startTick, in the sample); REPLY_INCOMPLETE while the four bytes
   have not all come; otherwise what recv returned, and the sample is
   untouched.  A reply that gives no valid time, or more than four bytes,
   counts as no reply (0). */
int ReceiveTime(TimeSample *sample, SOCKET timeSocket, TimeReplyBytes *gathered,
                DWORD startTick);

/* True when a read gave nothing to take yet: part of the reply (the rest
   is awaited), or no data at all, for a notification left over from a
   socket closed before (handles are reused at once). */
BOOL NothingToRead(int received);

#endif
