#ifndef HORAVEX_BASE_PRECISETIME_H
#define HORAVEX_BASE_PRECISETIME_H

#include <windows.h>
#include <stddef.h>

/* Times to the 100 ns ("ticks") on the FILETIME scale: since 1601-01-01
   UTC, 64 bits, good far past 2038. */
#define TICKS_PER_SECOND 10000000LL
#define TICKS_PER_MS 10000LL
#define TICKS_1601_TO_1970 116444736000000000LL

/* The system clock now, as finely as the system reads it. */
LONGLONG PreciseSystemTime(void);

/* A counter that the clock's steps do not move, in ticks. */
LONGLONG MonotonicTicks(void);

/* Milliseconds, rounded half away from zero. */
LONGLONG TicksToMs(LONGLONG ticks);

/* Calendar fields of a time, rounded to the millisecond: in UTC, or in the
   local zone.  False for a time they cannot hold. */
BOOL TicksToUtcFields(LONGLONG ticks, SYSTEMTIME *fields);
BOOL TicksToLocalFields(LONGLONG ticks, SYSTEMTIME *fields);

/* Signed seconds with three decimals ("-0.004"), from ticks rounded to
   the millisecond. */
int FormatSeconds(LONGLONG ticks, char *buffer, size_t size);
/* The same with a plus sign for what is not negative ("+30.000"). */
int FormatSignedSeconds(LONGLONG ticks, char *buffer, size_t size);

/* The smallest step in which the system clock is read (PreciseSystemTime),
   in ticks, measured once: 1 where it reads to the 100 ns, a timer's tick
   where it cannot. */
LONGLONG ClockReadingPrecision(void);

#endif
