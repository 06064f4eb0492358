#include "ui/applytime.h"

#include "base/globals.h"
#include "base/textfmt.h"
#include "persist/resultlog.h"
#include "timeclient/adjustlimit.h"
#include "timeclient/clock.h"

#define MS_PER_SECOND 1000

static AdjustAction AskAboutBigChange(HWND owner, long long difference, DWORD maxAdjust)
{
    FormatText(textBuffer, sizeof textBuffer,
               "The difference between the time returned and the current local time (%lld secs) "
               "is greater than the specified maximum adjustment (%lu secs).  Do you want to "
               "override this maximum?",
               difference, (unsigned long)maxAdjust);
    switch (MessageBoxA(owner, textBuffer, "Big Change", MB_ICONWARNING | MB_YESNOCANCEL)) {
    case IDYES:
        return ADJUST_APPLY;
    case IDNO:
        return ADJUST_LIMIT;
    default:
        /* Cancel, or no box could be shown: a question nobody answered is
           no consent, and the clock is left alone. */
        return ADJUST_LEAVE;
    }
}

int CheckAdjustLimit(TimeSample *sample, HWND owner)
{
    const AppState *state = AppStateOf(mainWindow);
    sample->label = LABEL_RESET;
    if (state == NULL || DecideAdjustment(sample, state->maxAdjust, state->adjOpt) != ADJUST_ASK)
        return 0;
    DWORD maxAdjust = state->maxAdjust;
    DWORD start = GetTickCount();
    AdjustAction answer = AskAboutBigChange(owner, DifferenceInSeconds(sample), maxAdjust);
    ApplyAdjustment(sample, answer, maxAdjust, (GetTickCount() - start) / MS_PER_SECOND);
    return 0;
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
    if (AppStateOf(mainWindow) != NULL && SetClockToReading(sample) != 0)
        MessageBoxA(owner, "Error setting system time", "horavex Error", MB_OK);
    state = AppStateOf(mainWindow);
    if (state != NULL && state->logOpts != 0 && !WriteLogEntry(sample, state)) {
        FormatText(textBuffer, sizeof textBuffer, "Error writing to log file %s",
                   TextOrEmpty(state->logPath));
        MessageBoxA(owner, textBuffer, "Log Error", MB_ICONWARNING);
    }
    *applying = 0;
}
