#ifndef HORAVEX_TIMESAMPLE_H
#define HORAVEX_TIMESAMPLE_H

#include "base/appstate.h"
#include "base/timesample.h"

/* The local clock, or -1 when it lies outside 1970 to 2038. */
LONG CurrentTime(void);

/* Copies the request's host and timings into the reading. */
void KeepRequestDetails(TimeSample *sample, const AppState *state);

void ApplyTime(HWND owner, TimeSample *sample, AppState *state);

/* Calendar fields of serverTime; false when it has none (negative). */
BOOL ToUtcFields(TimeSample *sample);
BOOL ToLocalFields(TimeSample *sample);
BOOL FillSystemTime(TimeSample *sample);

BOOL SetClock(const TimeSample *sample);

/* The local time of day of serverTime as the system locale writes it. */
int FormatTimeOfDay(TimeSample *sample, char *buffer, int size);

#endif
