#ifndef HORAVEX_BASE_TIMESAMPLE_H
#define HORAVEX_BASE_TIMESAMPLE_H

#include <windows.h>
#include <time.h>

#include "base/globals.h"

/* Shown in place of a time of day that has no calendar fields. */
#define NO_TIME_OF_DAY "--:--:--"

/* One reading of server and local time, in seconds since 1970 UTC. */
struct TimeSample {
    LONG localTime;
    LONG serverTime;
    LONG partialTime;
    const char *label;
    struct tm *brokenDown;
    SYSTEMTIME systemTime;
    /* Kept with the reading when it is taken: a request started while one
       of its boxes is open must not change what its line and fields say. */
    DWORD lag;
    DWORD connectTime;
    char host[TEXT_BUFFER_SIZE];
    /* An SNTP reading: the local clock and the server's lead over it, in
       ticks of 100 ns (base/precisetime.h); lag is the round-trip delay. */
    BOOL precise;
    LONGLONG localClock;
    LONGLONG offset;
};

#endif
