#ifndef HORAVEX_RESULTLOG_H
#define HORAVEX_RESULTLOG_H

#include "base/appstate.h"
#include "base/timesample.h"

/* Appends the sample's line; on failure textBuffer holds the error text. */
int WriteLogEntry(TimeSample *sample, AppState *state);

int AppendLogLine(AppState *state, LONG serverTime, LONG localTime,
                  const char *label, const char *date);

#endif
