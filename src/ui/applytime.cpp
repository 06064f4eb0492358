#include "ui/applytime.h"

#include "base/globals.h"
#include "base/textfmt.h"
#include "persist/resultlog.h"
#include "timeclient/adjustlimit.h"
#include "timeclient/clock.h"
#include "timeclient/request.h"
#include "timeclient/servicepipe.h"

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

/* The service's reading went beyond the machine's limit: the person is
   asked as always.  On Yes or No the service takes a new reading and sets
   the clock only within what the answer allows: that request runs in the
   engine beside the window, and its reading comes back as a new outcome
   (true).  Cancel leaves the clock alone (false). */
static BOOL AskBeforeTheServiceSets(HWND owner, TimeSample *sample)
{
    DWORD start = GetTickCount();
    long long difference = DifferenceInSeconds(sample);
    AdjustAction answer = AskAboutBigChange(owner, difference, sample->serviceMaxAdjust);
    AppState *state = AppStateOf(mainWindow);
    if (answer == ADJUST_LEAVE || state == NULL) {
        ApplyAdjustment(sample, ADJUST_LEAVE, sample->serviceMaxAdjust,
                        (GetTickCount() - start) / MS_PER_SECOND);
        sample->serviceResult = SERVICE_LEFT;
        return FALSE;
    }
    /* Rounding to whole seconds for the question may have hidden part of
       one: a second more is accepted. */
    unsigned long long size = difference < 0 ? -difference : difference;
    DWORD limit = size >= 0xFFFFFFFEULL ? 0xFFFFFFFFUL : (DWORD)size + 1;
    int mode = answer == ADJUST_APPLY ? SERVICE_ACCEPT_UP_TO : SERVICE_LIMIT;
    RequestOutcome outcome;
    if (AskServiceAgain(state->request, owner, sample, mode, limit, &outcome))
        return TRUE;
    *sample = outcome.sample;
    return FALSE;
}

/* "Error setting system time", with one line more when the program did not
   set the clock itself: why, or the service's error. */
static void ShowClockRefusal(HWND owner, const TimeSample *sample)
{
    if (sample->setBy == CLOCK_BY_NOBODY)
        FormatText(textBuffer, sizeof textBuffer, "Error setting system time\r\n%s",
                   sample->whyNotSet);
    else if (sample->setBy == CLOCK_BY_SERVICE)
        FormatText(textBuffer, sizeof textBuffer,
                   "Error setting system time\r\nThe Horavex Time Service was refused it "
                   "(Windows error %lu).",
                   (unsigned long)sample->serviceError);
    else
        FormatText(textBuffer, sizeof textBuffer, "Error setting system time");
    MessageBoxA(owner, textBuffer, "horavex Error", MB_OK);
}

/* Set by the program, or by the service that took the reading: the
   policy, the clock, its box; false when it was not set. */
static BOOL SetClockFromReading(HWND owner, TimeSample *sample)
{
    if (sample->setBy == CLOCK_BY_PROGRAM) {
        CheckAdjustLimit(sample, owner);
        return AppStateOf(mainWindow) == NULL || SetClockToReading(sample) == 0;
    }
    if (sample->setBy == CLOCK_BY_SERVICE && sample->serviceResult != SERVICE_FAILED)
        return TRUE;
    /* Nothing pretends to have set the clock. */
    sample->label = LABEL_FAILED;
    return FALSE;
}

int ApplyTime(HWND owner, TimeSample *sample, AppState *state)
{
    int *applying = ApplyingTimeOf(owner);
    if (*applying || state->reportOnly)
        return APPLY_DONE;
    *applying = 1;
    if (sample->setBy == CLOCK_BY_SERVICE && sample->serviceResult == SERVICE_ASK
        && AskBeforeTheServiceSets(owner, sample)) {
        *applying = 0;
        return APPLY_ASKED_AGAIN;
    }
    /* Each box runs a message loop that may end the program. */
    if (!SetClockFromReading(owner, sample) && AppStateOf(mainWindow) != NULL)
        ShowClockRefusal(owner, sample);
    if (sample->setBy != CLOCK_BY_PROGRAM)
        ToUtcFields(sample);
    state = AppStateOf(mainWindow);
    if (state != NULL && state->logOpts != 0 && !WriteLogEntry(sample, state)) {
        FormatText(textBuffer, sizeof textBuffer, "Error writing to log file %s",
                   TextOrEmpty(state->logPath));
        MessageBoxA(owner, textBuffer, "Log Error", MB_ICONWARNING);
    }
    *applying = 0;
    return APPLY_DONE;
}
