#include "timeclient/adjustlimit.h"

#include "base/globals.h"
#include "base/precisetime.h"
#include "base/textfmt.h"

#define MS_PER_SECOND 1000

enum Decision { DECIDE_ACCEPT, DECIDE_PARTIAL, DECIDE_IGNORE };

static Decision AskAboutBigChange(HWND owner, long long difference, DWORD maxAdjust)
{
    FormatText(textBuffer, sizeof textBuffer,
               "The difference between the time returned and the current local time (%lld secs) "
               "is greater than the specified maximum adjustment (%lu secs).  Do you want to "
               "override this maximum?",
               difference, (unsigned long)maxAdjust);
    switch (MessageBoxA(owner, textBuffer, "Big Change", MB_ICONWARNING | MB_YESNOCANCEL)) {
    case IDYES:
        return DECIDE_ACCEPT;
    case IDNO:
        return DECIDE_PARTIAL;
    default:
        /* Cancel, or no box could be shown: a question nobody answered is
           no consent, and the clock is left alone. */
        return DECIDE_IGNORE;
    }
}

static Decision DecideBeyondTheLimit(const AppState *state, HWND owner, long long difference)
{
    switch (state->adjOpt) {
    case ADJUST_ASK:
        return AskAboutBigChange(owner, difference, state->maxAdjust);
    case ADJUST_IGNORE:
        return DECIDE_IGNORE;
    default:
        return DECIDE_ACCEPT;
    }
}

/* Adds seconds to a time, which stays unknown (negative) when it was. */
static LONG Later(LONG time, DWORD seconds)
{
    return time < 0 ? time : (LONG)((DWORD)time + seconds);
}

/* Whole seconds, as the Time protocol gives them. */
static void ApplyToSeconds(TimeSample *sample, Decision decision, DWORD elapsed)
{
    sample->label = LABEL_ACCEPT;
    /* Moving from a local clock that reads outside 1970 to 2038 would set
       a made-up time: leave the clock alone instead. */
    if (decision == DECIDE_PARTIAL && sample->localTime < 0)
        decision = DECIDE_IGNORE;
    if (decision == DECIDE_PARTIAL) {
        sample->label = LABEL_PARTIAL;
        sample->serverTime = sample->partialTime;
    } else if (decision == DECIDE_IGNORE) {
        sample->label = LABEL_IGNORE;
        sample->serverTime = sample->localTime;
    }
    /* The seconds spent deciding move both clocks on alike. */
    sample->serverTime = Later(sample->serverTime, elapsed);
    sample->localTime = Later(sample->localTime, elapsed);
}

/* An SNTP reading keeps only its offset: the clock it is added to is read
   when it is set, after the question. */
static void ApplyToOffset(TimeSample *sample, Decision decision, LONGLONG limit)
{
    sample->label = LABEL_ACCEPT;
    if (decision == DECIDE_PARTIAL) {
        sample->label = LABEL_PARTIAL;
        sample->offset = sample->offset >= 0 ? limit : -limit;
    } else if (decision == DECIDE_IGNORE) {
        sample->label = LABEL_IGNORE;
        sample->offset = 0;
    }
}

static int CheckPreciseLimit(TimeSample *sample, HWND owner, const AppState *state)
{
    LONGLONG limit = (LONGLONG)state->maxAdjust * TICKS_PER_SECOND;
    LONGLONG size = sample->offset < 0 ? -sample->offset : sample->offset;
    if (size <= limit)
        return 0;
    /* The question shows whole seconds, rounded half away from zero. */
    LONGLONG half = sample->offset < 0 ? -TICKS_PER_SECOND / 2 : TICKS_PER_SECOND / 2;
    long long seconds = (long long)((sample->offset + half) / TICKS_PER_SECOND);
    ApplyToOffset(sample, DecideBeyondTheLimit(state, owner, seconds), limit);
    return 0;
}

int CheckAdjustLimit(TimeSample *sample, HWND owner)
{
    const AppState *state = AppStateOf(mainWindow);
    sample->label = LABEL_RESET;
    if (state == NULL || state->maxAdjust == 0)
        return 0;
    if (sample->precise)
        return CheckPreciseLimit(sample, owner, state);
    DWORD maxAdjust = state->maxAdjust;
    long long difference = (long long)sample->serverTime - sample->localTime;
    unsigned long long size = difference < 0 ? -difference : difference;
    if (size <= maxAdjust)
        return 0;
    sample->partialTime = difference >= 0 ? (LONG)((DWORD)sample->localTime + maxAdjust)
                                          : (LONG)((DWORD)sample->localTime - maxAdjust);
    DWORD start = GetTickCount();
    Decision decision = DecideBeyondTheLimit(state, owner, difference);
    DWORD elapsed = (GetTickCount() - start) / MS_PER_SECOND;
    ApplyToSeconds(sample, decision, elapsed);
    return 0;
}
