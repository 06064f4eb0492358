#include "persist/resultlog.h"

#include "app/globals.h"
#include "app/textfmt.h"

/* No log file yet: every line reports that it was not written. */
int AppendLogLine(AppState *state, LONG serverTime, LONG localTime, const char *label,
                  const char *date)
{
    (void)state;
    (void)serverTime;
    (void)localTime;
    (void)label;
    (void)date;
    return 0;
}

int WriteLogEntry(TimeSample *sample, AppState *state)
{
    int written = AppendLogLine(state, sample->serverTime, sample->localTime, sample->label, "");
    if (!written)
        FormatText(textBuffer, sizeof textBuffer, "Error writing to log file %s",
                   TextOrEmpty(state->logPath));
    return written;
}
