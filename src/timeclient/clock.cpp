#include "timeclient/clock.h"

#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include "base/precisetime.h"
#include "timeclient/adjustlimit.h"

LONG CurrentTime(void)
{
    time_t now = time(NULL);
    if (now < 0 || now > LONG_MAX)
        return -1;
    return (LONG)now;
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

static BOOL FillFields(TimeSample *sample, BOOL utc)
{
    if (sample->precise)
        return FillPreciseFields(sample, utc ? TicksToUtcFields : TicksToLocalFields);
    time_t t = sample->serverTime;
    sample->brokenDown = sample->serverTime < 0 ? NULL : utc ? gmtime(&t) : localtime(&t);
    return FillSystemTime(sample);
}

BOOL ToUtcFields(TimeSample *sample)
{
    return FillFields(sample, TRUE);
}

BOOL ToLocalFields(TimeSample *sample)
{
    return FillFields(sample, FALSE);
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

DWORD SetClockToReading(TimeSample *sample)
{
    /* The clock now plus the offset: time spent asking is in it already. */
    if (sample->precise)
        sample->localClock = PreciseSystemTime();
    ToUtcFields(sample);
    SetLastError(0);
    if (SetClock(sample))
        return 0;
    DWORD error = GetLastError();
    /* The log must not call a refusal a reset. */
    sample->label = LABEL_FAILED;
    return error != 0 ? error : ERROR_INVALID_DATA;
}

BOOL HoldsClockRight(void)
{
    LUID right;
    HANDLE token;
    if (!LookupPrivilegeValueA(NULL, SE_SYSTEMTIME_NAME, &right)
        || !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return FALSE;
    DWORD size = 0;
    GetTokenInformation(token, TokenPrivileges, NULL, 0, &size);
    TOKEN_PRIVILEGES *privileges = size != 0 ? (TOKEN_PRIVILEGES *)malloc(size) : NULL;
    BOOL held = FALSE;
    if (privileges != NULL && GetTokenInformation(token, TokenPrivileges, privileges, size, &size))
        for (DWORD i = 0; i < privileges->PrivilegeCount && !held; i++)
            held = privileges->Privileges[i].Luid.LowPart == right.LowPart
                   && privileges->Privileges[i].Luid.HighPart == right.HighPart;
    free(privileges);
    CloseHandle(token);
    return held;
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
