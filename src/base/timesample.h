#ifndef HORAVEX_BASE_TIMESAMPLE_H
#define HORAVEX_BASE_TIMESAMPLE_H

#include <windows.h>
#include <time.h>

#include "base/globals.h"

/* Shown in place of a time of day that has no calendar fields. */
#define NO_TIME_OF_DAY "--:--:--"

/* Who sets the clock from a reading: the program, holding the right; the
   time service, which took the reading itself; nobody, when the program
   lacks the right and the service could not do it. */
#define CLOCK_BY_PROGRAM 0
#define CLOCK_BY_SERVICE 1
#define CLOCK_BY_NOBODY 2

/* Servers one fetch may ask, as its reading reports them. */
#define MOST_SOURCES 16
#define SOURCE_ADDRESS_SIZE 48

/* What became of one server a several-server fetch asked. */
enum SourceState { SOURCE_TAKEN, SOURCE_LEFT_OUT, SOURCE_FAILED };

struct SourceReport {
    /* Its address as text. */
    char address[SOURCE_ADDRESS_SIZE];
    int state;
    /* Its offset, in ticks (not for SOURCE_FAILED). */
    LONGLONG offset;
};

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
    int setBy;
    /* CLOCK_BY_SERVICE: what it did (timeclient/servicepipe.h), the
       Windows error of a refusal, and the machine's limit. */
    int serviceResult;
    DWORD serviceError;
    DWORD serviceMaxAdjust;
    /* CLOCK_BY_NOBODY: why, one line. */
    char whyNotSet[TEXT_BUFFER_SIZE];
    /* SNTP: the round trip in ticks (lag is it in milliseconds). */
    LONGLONG delay;
    /* NTS: every server the reading is of proved its replies. */
    BOOL authenticated;
    /* Of a fetch that asked several servers (sourceCount 0 for one): each
       server asked, and how many answered and agreed; the offset and the
       delay are the agreeing servers' combined. */
    int sourceCount;
    int sourcesAnswered;
    int sourcesAgreeing;
    SourceReport sources[MOST_SOURCES];
};

#endif
