#include "persist/resultlog.h"

#include <stdio.h>
#include <string.h>

#include "base/globals.h"
#include "base/textfmt.h"

#define SHORT_LOG 1
/* Shown in place of a date that has no calendar fields. */
#define NO_DATE "--"

/* hh:mm:ss of a time in local time, or the placeholder for a time that has
   none (a local clock outside 1970 to 2038). */
static void FormatLocalTimeOfDay(LONG time, char *text, size_t size)
{
    time_t t = time;
    const struct tm *local = time >= 0 ? localtime(&t) : NULL;
    if (local == NULL)
        FormatText(text, size, "%s", NO_TIME_OF_DAY);
    else
        FormatText(text, size, "%02d:%02d:%02d", local->tm_hour, local->tm_min, local->tm_sec);
}

int AppendLogLine(const AppState *state, const TimeSample *sample, const char *date)
{
    if (state->logPath == NULL)
        return 0;
    FILE *file = fopen(state->logPath, "at");
    if (file == NULL)
        return 0;
    char serverTimeOfDay[16];
    char localTimeOfDay[16];
    FormatLocalTimeOfDay(sample->serverTime, serverTimeOfDay, sizeof serverTimeOfDay);
    FormatLocalTimeOfDay(sample->localTime, localTimeOfDay, sizeof localTimeOfDay);
    long long difference = (long long)sample->serverTime - sample->localTime;
    char host[TEXT_BUFFER_SIZE];
    char zone[TEXT_BUFFER_SIZE];
    /* A tab or a line break would forge fields or lines. */
    CopyPrintable(host, sizeof host, sample->host);
    CopyPrintable(zone, sizeof zone, TextOrEmpty(state->tzName));
    const char *label = TextOrEmpty(sample->label);
    int printed;
    if (state->logOpts == SHORT_LOG)
        printed = fprintf(file, "%s\t%s\t%s\t%s\t%s\t%lld\t%lu ms\t%s\n", host, date, zone,
                          serverTimeOfDay, localTimeOfDay, difference,
                          (unsigned long)sample->lag, label);
    else
        printed = fprintf(file, "%s\t%s\t%s\t%s\t%s\t%ld\t%ld\t%lld\t%lu ms\t%lu ms\t%s\n", host,
                          date, zone, serverTimeOfDay, localTimeOfDay, (long)sample->serverTime,
                          (long)sample->localTime, difference, (unsigned long)sample->lag,
                          (unsigned long)sample->connectTime, label);
    fclose(file);
    return printed >= 0;
}

int WriteLogEntry(TimeSample *sample, AppState *state)
{
    if (GetDateFormatA(LOCALE_SYSTEM_DEFAULT, DATE_SHORTDATE, &sample->systemTime, NULL,
                       textBuffer, TEXT_BUFFER_SIZE - 1) == 0)
        lstrcpynA(textBuffer, NO_DATE, TEXT_BUFFER_SIZE);
    int written = AppendLogLine(state, sample, textBuffer);
    if (!written)
        FormatText(textBuffer, sizeof textBuffer, "Error writing to log file %s",
                   TextOrEmpty(state->logPath));
    return written;
}
