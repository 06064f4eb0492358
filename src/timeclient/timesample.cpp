#include "timeclient/timesample.h"

#include <limits.h>
#include <string.h>

#include "base/globals.h"
#include "persist/resultlog.h"
#include "timeclient/adjustlimit.h"

/* 2^32 - 2208988800: adding it modulo 2^32 moves the 1900 base to 1970. */
#define SECONDS_1900_TO_1970_COMPLEMENT 2085978496UL
/* Half the lag, in whole seconds: milliseconds / 2000. */
#define MS_PER_HALF_LAG_SECOND 2000

LONG CurrentTime(void)
{
    time_t now = time(NULL);
    if (now < 0 || now > LONG_MAX)
        return -1;
    return (LONG)now;
}

LONG ServerTimeFromReply(u_long reply)
{
    return (LONG)(DWORD)(reply + SECONDS_1900_TO_1970_COMPLEMENT);
}

BOOL CorrectForLag(LONG serverTime, DWORD lag, LONG *corrected)
{
    if (serverTime < 0)
        return FALSE;
    long long moved = (long long)serverTime + lag / MS_PER_HALF_LAG_SECOND;
    if (moved > LONG_MAX)
        return FALSE;
    *corrected = (LONG)moved;
    return TRUE;
}

static BOOL MoreToRead(SOCKET timeSocket)
{
    char extra;
    return recv(timeSocket, &extra, 1, MSG_PEEK) > 0;
}

void KeepRequestDetails(TimeSample *sample, const AppState *state)
{
    sample->lag = state->lag;
    sample->connectTime = state->connectTime;
    lstrcpynA(sample->host, TextOrEmpty(state->host), sizeof sample->host);
}

int ReceiveTime(TimeSample *sample, SOCKET timeSocket)
{
    AppState *state = AppStateOf(mainWindow);
    if (state->replyLength >= REPLY_BYTES)
        state->replyLength = 0;
    int received = recv(timeSocket, (char *)state->reply + state->replyLength,
                        (int)(REPLY_BYTES - state->replyLength), 0);
    if (received <= 0)
        return received;
    state->replyLength += (DWORD)received;
    if (state->replyLength < REPLY_BYTES)
        return REPLY_INCOMPLETE;
    if (MoreToRead(timeSocket))
        return 0;
    DWORD lag = GetTickCount() - state->startTick;
    u_long reply;
    memcpy(&reply, state->reply, sizeof reply);
    LONG serverTime;
    if (!CorrectForLag(ServerTimeFromReply(ntohl(reply)), lag, &serverTime))
        return 0;
    state->lag = lag;
    sample->serverTime = serverTime;
    sample->localTime = CurrentTime();
    KeepRequestDetails(sample, state);
    return REPLY_BYTES;
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

BOOL ToUtcFields(TimeSample *sample)
{
    time_t t = sample->serverTime;
    sample->brokenDown = sample->serverTime >= 0 ? gmtime(&t) : NULL;
    return FillSystemTime(sample);
}

BOOL ToLocalFields(TimeSample *sample)
{
    time_t t = sample->serverTime;
    sample->brokenDown = sample->serverTime >= 0 ? localtime(&t) : NULL;
    return FillSystemTime(sample);
}

BOOL FillSystemTime(TimeSample *sample)
{
    SYSTEMTIME *fields = &sample->systemTime;
    const struct tm *tm = sample->brokenDown;
    if (tm == NULL) {
        /* No calendar fields: leave none that a formatter would accept. */
        fields->wYear = fields->wMonth = fields->wDay = 0;
        fields->wHour = fields->wMinute = fields->wSecond = fields->wMilliseconds = 0;
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
