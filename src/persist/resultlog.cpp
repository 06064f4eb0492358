#include "persist/resultlog.h"

#include <io.h>
#include <stdio.h>
#include <string.h>

#include "base/precisetime.h"
#include "base/textfmt.h"

#define SHORT_LOG 1
/* Shown in place of a date that has no calendar fields. */
#define NO_DATE "--"
#define NUMBER_SIZE 32
/* A path of up to 511 characters, with room for its variables' values. */
#define LOG_PATH_SIZE (2 * TEXT_BUFFER_SIZE)
/* Host, date and zone of up to 511 characters each, the rest short. */
#define LOG_LINE_SIZE (4 * TEXT_BUFFER_SIZE)

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

/* The same for a time in ticks, which holds any year. */
static void FormatPreciseTimeOfDay(LONGLONG ticks, char *text, size_t size)
{
    SYSTEMTIME local;
    if (TicksToLocalFields(ticks, &local))
        FormatText(text, size, "%02d:%02d:%02d", local.wHour, local.wMinute, local.wSecond);
    else
        FormatText(text, size, "%s", NO_TIME_OF_DAY);
}

/* The numbers of a line: whole seconds for the Time protocol, seconds with
   three decimals for SNTP. */
struct LogTimes {
    char serverTimeOfDay[NUMBER_SIZE];
    char localTimeOfDay[NUMBER_SIZE];
    char serverSeconds[NUMBER_SIZE];
    char localSeconds[NUMBER_SIZE];
    char difference[NUMBER_SIZE];
};

static void FormatLogTimes(const TimeSample *sample, LogTimes *times)
{
    if (sample->precise) {
        LONGLONG server = sample->localClock + sample->offset;
        FormatPreciseTimeOfDay(server, times->serverTimeOfDay, NUMBER_SIZE);
        FormatPreciseTimeOfDay(sample->localClock, times->localTimeOfDay, NUMBER_SIZE);
        FormatSeconds(server - TICKS_1601_TO_1970, times->serverSeconds, NUMBER_SIZE);
        FormatSeconds(sample->localClock - TICKS_1601_TO_1970, times->localSeconds, NUMBER_SIZE);
        FormatSeconds(sample->offset, times->difference, NUMBER_SIZE);
        return;
    }
    FormatLocalTimeOfDay(sample->serverTime, times->serverTimeOfDay, NUMBER_SIZE);
    FormatLocalTimeOfDay(sample->localTime, times->localTimeOfDay, NUMBER_SIZE);
    FormatText(times->serverSeconds, NUMBER_SIZE, "%ld", (long)sample->serverTime);
    FormatText(times->localSeconds, NUMBER_SIZE, "%ld", (long)sample->localTime);
    FormatText(times->difference, NUMBER_SIZE, "%lld",
               (long long)sample->serverTime - sample->localTime);
}

BOOL LogFilePath(const AppState *state, char *path, size_t size)
{
    if (state->logPath == NULL || size == 0)
        return FALSE;
    if (!state->logPathExpands) {
        lstrcpynA(path, state->logPath, (int)size);
        return strlen(state->logPath) < size;
    }
    DWORD length = ExpandEnvironmentStringsA(state->logPath, path, (DWORD)size);
    return length != 0 && length <= size;
}

/* The verbose layout's last fields, of a reading of several servers: each
   server asked, "127.0.7.1 +0.001 taken", "127.0.7.4 +30.000 left out",
   "127.0.7.5 - failed". */
static int AppendSources(const TimeSample *sample, char *text, size_t size)
{
    static const char *const states[] = {"taken", "left out", "failed"};
    int length = 0;
    for (int i = 0; i < sample->sourceCount && (size_t)length + 1 < size; i++) {
        const SourceReport *source = &sample->sources[i];
        char address[SOURCE_ADDRESS_SIZE];
        char seconds[NUMBER_SIZE] = "-";
        CopyPrintable(address, sizeof address, source->address);
        if (source->state != SOURCE_FAILED)
            FormatSignedSeconds(source->offset, seconds, sizeof seconds);
        int state = source->state >= SOURCE_TAKEN && source->state <= SOURCE_FAILED
                        ? source->state
                        : SOURCE_FAILED;
        length += FormatText(text + length, size - (size_t)length, "\t%s %s %s", address, seconds,
                             states[state]);
    }
    return length;
}

/* The line of a reading, with its line break; false when it did not fit. */
static BOOL FormatLogLine(const AppState *state, const TimeSample *sample, const char *date,
                          char *line, size_t size)
{
    LogTimes times;
    FormatLogTimes(sample, &times);
    char host[TEXT_BUFFER_SIZE];
    char zone[TEXT_BUFFER_SIZE];
    /* A tab or a line break would forge fields or lines. */
    CopyPrintable(host, sizeof host, sample->host);
    CopyPrintable(zone, sizeof zone, TextOrEmpty(state->tzName));
    const char *label = TextOrEmpty(sample->label);
    int length;
    if (state->logOpts == SHORT_LOG)
        length = FormatText(line, size, "%s\t%s\t%s\t%s\t%s\t%s\t%lu ms\t%s\n", host, date, zone,
                            times.serverTimeOfDay, times.localTimeOfDay, times.difference,
                            (unsigned long)sample->lag, label);
    else
        length = FormatText(line, size, "%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%lu ms\t%lu ms\t%s",
                            host, date, zone, times.serverTimeOfDay, times.localTimeOfDay,
                            times.serverSeconds, times.localSeconds, times.difference,
                            (unsigned long)sample->lag, (unsigned long)sample->connectTime, label);
    if (state->logOpts != SHORT_LOG && length > 0) {
        /* NTS: the reading was proved to be the server's. */
        if (sample->authenticated)
            length += FormatText(line + length, size - (size_t)length, "\tauthenticated");
        length += AppendSources(sample, line + length, size - (size_t)length);
        length += FormatText(line + length, size - (size_t)length, "\n");
    }
    return length > 0 && line[length - 1] == '\n';
}

/* A line that went only in part is cut off again, so that the next one
   does not join it. */
static void CutBackTo(FILE *file, const LARGE_INTEGER *size)
{
    HANDLE handle = (HANDLE)_get_osfhandle(_fileno(file));
    if (handle != INVALID_HANDLE_VALUE && SetFilePointerEx(handle, *size, NULL, FILE_BEGIN))
        SetEndOfFile(handle);
}

/* Every step is checked: a full disk or a share that went away loses no
   line unsaid. */
int AppendLogLine(const AppState *state, const TimeSample *sample, const char *date)
{
    char path[LOG_PATH_SIZE];
    char line[LOG_LINE_SIZE];
    if (!LogFilePath(state, path, sizeof path) || !FormatLogLine(state, sample, date, line, sizeof line))
        return 0;
    FILE *file = fopen(path, "at");
    if (file == NULL)
        return 0;
    /* Unbuffered: the line goes, or fails, in the one call. */
    setvbuf(file, NULL, _IONBF, 0);
    LARGE_INTEGER size;
    BOOL sized = GetFileSizeEx((HANDLE)_get_osfhandle(_fileno(file)), &size);
    BOOL written = fputs(line, file) >= 0 && fflush(file) == 0;
    if (!written && sized)
        CutBackTo(file, &size);
    written &= fclose(file) == 0;
    return written;
}

int WriteLogEntry(const TimeSample *sample, const AppState *state)
{
    char date[TEXT_BUFFER_SIZE];
    if (GetDateFormatA(LOCALE_SYSTEM_DEFAULT, DATE_SHORTDATE, &sample->systemTime, NULL, date,
                       sizeof date - 1) == 0)
        lstrcpynA(date, NO_DATE, sizeof date);
    return AppendLogLine(state, sample, date);
}
