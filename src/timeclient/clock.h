#ifndef HORAVEX_CLOCK_H
#define HORAVEX_CLOCK_H

#include <windows.h>

#include "base/timesample.h"

/* The local clock, or -1 when it lies outside 1970 to 2038. */
LONG CurrentTime(void);

/* Calendar fields of serverTime; false when it has none (negative). */
BOOL ToUtcFields(TimeSample *sample);
BOOL ToLocalFields(TimeSample *sample);
BOOL FillSystemTime(TimeSample *sample);

BOOL SetClock(const TimeSample *sample);

/* Sets the clock from a reading the policy has judged: an SNTP reading's
   offset is added to the clock as it reads now.  0, or the Windows error
   of the refusal, which the label then says ("failed"). */
DWORD SetClockToReading(TimeSample *sample);

/* True when this process's token holds the right to set the clock
   (SeSystemtimePrivilege), enabled or not: a standard user's does not, nor
   an administrator's without elevation. */
BOOL HoldsClockRight(void);

/* The local time of day of serverTime as the system locale writes it. */
int FormatTimeOfDay(TimeSample *sample, char *buffer, int size);

#endif
