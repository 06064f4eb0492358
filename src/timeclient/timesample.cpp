#include "timeclient/timesample.h"

#include <limits.h>
#include <string.h>

#include "base/globals.h"
#include "base/precisetime.h"
#include "persist/resultlog.h"
#include "timeclient/adjustlimit.h"

LONG CurrentTime(void)
{
    time_t now = time(NULL);
    if (now < 0 || now > LONG_MAX)
        return -1;
    return (LONG)now;
}

void KeepRequestDetails(TimeSample *sample, const AppState *state)
{
    sample->lag = state->lag;
    sample->connectTime = state->connectTime;
    lstrcpynA(sample->host, TextOrEmpty(state->host), sizeof sample->host);
}

static int *ApplyingTimeOf(HWND owner)
{
    return &applyingTime[owner == mainWindow ? APPLY_MAIN_WINDOW : APPLY_MAIN_DIALOG];
}

void ApplyTime(HWND owner, TimeSample *sample, AppState *state)
{
    int *applying = ApplyingTimeOf(owner);
    if (*applying || state->reportOnly)
        return;
    *applying = 1;
    CheckAdjustLimit(sample, owner);
    /* Set to the clock now plus the offset: the seconds a question was
       open are in it already. */
    if (sample->precise)
        sample->localClock = PreciseSystemTime();
    /* Each box runs a message loop that may end the program. */
    if (AppStateOf(mainWindow) != NULL) {
        ToUtcFields(sample);
        if (!SetClock(sample)) {
            /* The log must not call a refusal a reset. */
            sample->label = LABEL_FAILED;
            MessageBoxA(owner, "Error setting system time", "horavex Error", MB_OK);
        }
    }
    state = AppStateOf(mainWindow);
    if (state != NULL && state->logOpts != 0 && !WriteLogEntry(sample, state))
        MessageBoxA(owner, textBuffer, "Log Error", MB_ICONWARNING);
    *applying = 0;
}

static void ClearFields(SYSTEMTIME *fields)
{
    /* No calendar fields: leave none that a formatter would accept. */
    fields->wYear = fields->wMonth = fields->wDay = 0;
    fields->wHour = fields->wMinute = fields->wSecond = fields->wMilliseconds = 0;
}

/* The server's time of an SNTP reading, with its milliseconds. */
static BOOL FillPreciseFields(TimeSample *sample, BOOL (*convert)(LONGLONG, SYSTEMTIME *))
{
    sample->brokenDown = NULL;
    if (convert(sample->localClock + sample->offset, &sample->systemTime))
        return TRUE;
    ClearFields(&sample->systemTime);
    return FALSE;
}

BOOL ToUtcFields(TimeSample *sample)
{
    if (sample->precise)
        return FillPreciseFields(sample, TicksToUtcFields);
    time_t t = sample->serverTime;
    sample->brokenDown = sample->serverTime >= 0 ? gmtime(&t) : NULL;
    return FillSystemTime(sample);
}

BOOL ToLocalFields(TimeSample *sample)
{
    if (sample->precise)
        return FillPreciseFields(sample, TicksToLocalFields);
    time_t t = sample->serverTime;
    sample->brokenDown = sample->serverTime >= 0 ? localtime(&t) : NULL;
    return FillSystemTime(sample);
}

BOOL FillSystemTime(TimeSample *sample)
{
    SYSTEMTIME *fields = &sample->systemTime;
    const struct tm *tm = sample->brokenDown;
    if (tm == NULL) {
        ClearFields(fields);
        return FALSE;
    }
    fields->wYear = (WORD)(tm->tm_year + 1900);
    fields->wMonth = (WORD)(tm->tm_mon + 1);
    fields->wDay = (WORD)tm->tm_mday;
    fields->wHour = (WORD)tm->tm_hour;
    fields->wMinute = (WORD)tm->tm_min;
    fields->wSecond = (WORD)tm->tm_sec;
    fields->wMilliseconds = 0;
    return TRUE;
}

BOOL SetClock(const TimeSample *sample)
{
    /* To the millisecond: ToUtcFields filled it from 64-bit times. */
    if (sample->precise)
        return sample->offset == 0 || SetSystemTime(&sample->systemTime);
    if (sample->serverTime == sample->localTime)
        return TRUE;
    if (sample->brokenDown == NULL)
        return FALSE;
    return SetSystemTime(&sample->systemTime);
}

int FormatTimeOfDay(TimeSample *sample, char *buffer, int size)
{
    int length = 0;
    if (ToLocalFields(sample))
        length = GetTimeFormatA(LOCALE_SYSTEM_DEFAULT, LOCALE_NOUSEROVERRIDE,
                                &sample->systemTime, NULL, buffer, size - 1);
    if (length == 0) {
        lstrcpynA(buffer, NO_TIME_OF_DAY, size);
        return (int)strlen(buffer);
    }
    return length - 1;
}
