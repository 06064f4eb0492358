#ifndef HORAVEX_RESULTLOG_H
#define HORAVEX_RESULTLOG_H

#include "base/appstate.h"
#include "base/timesample.h"

#include <stddef.h>

/* Appends the sample's line, dated with its UTC fields; 0 when it could
   not be written. */
int WriteLogEntry(const TimeSample *sample, const AppState *state);

/* The file the log is written to: logPath, its environment variables
   expanded when it was stored so; false when there is none or it does not
   fit. */
BOOL LogFilePath(const AppState *state, char *path, size_t size);

/* The line of a reading: its own times, label, host and timings, the
   state's zone, layout and file. */
int AppendLogLine(const AppState *state, const TimeSample *sample, const char *date);

#endif
