#include "timeclient/adjustlimit.h"

#include "base/globals.h"
#include "base/textfmt.h"

#define MS_PER_SECOND 1000

static void Accept(TimeSample *sample)
{
    sample->label = LABEL_ACCEPT;
}

static void Ignore(TimeSample *sample)
{
    sample->label = LABEL_IGNORE;
    sample->serverTime = sample->localTime;
}

static void MoveByTheMaximum(TimeSample *sample)
{
    /* Moving from a local clock that reads outside 1970 to 2038 would set
       a made-up time: leave the clock alone instead. */
    if (sample->localTime < 0) {
        Ignore(sample);
        return;
    }
    sample->label = LABEL_PARTIAL;
    sample->serverTime = sample->partialTime;
}

static void AskAboutBigChange(TimeSample *sample, HWND owner, long long difference,
                              DWORD maxAdjust)
{
    FormatText(textBuffer, sizeof textBuffer,
               "The difference between the time returned and the current local time (%lld secs) "
               "is greater than the specified maximum adjustment (%lu secs).  Do you want to "
               "override this maximum?",
               difference, (unsigned long)maxAdjust);
    switch (MessageBoxA(owner, textBuffer, "Big Change", MB_ICONWARNING | MB_YESNOCANCEL)) {
    case IDYES:
        Accept(sample);
        break;
    case IDNO:
        MoveByTheMaximum(sample);
        break;
    default:
        /* Cancel, or no box could be shown: a question nobody answered is
           no consent, and the clock is left alone. */
        Ignore(sample);
        break;
    }
}

/* Adds seconds to a time, which stays unknown (negative) when it was. */
static LONG Later(LONG time, DWORD seconds)
{
    return time < 0 ? time : (LONG)((DWORD)time + seconds);
}

int CheckAdjustLimit(TimeSample *sample, HWND owner)
{
    const AppState *state = AppStateOf(mainWindow);
    sample->label = LABEL_RESET;
    if (state == NULL || state->maxAdjust == 0)
        return 0;
    DWORD maxAdjust = state->maxAdjust;
    long long difference = (long long)sample->serverTime - sample->localTime;
    unsigned long long size = difference < 0 ? -difference : difference;
    if (size <= maxAdjust)
        return 0;
    sample->partialTime = difference >= 0 ? (LONG)((DWORD)sample->localTime + maxAdjust)
                                          : (LONG)((DWORD)sample->localTime - maxAdjust);
    DWORD start = GetTickCount();
    switch (state->adjOpt) {
    case ADJUST_ASK:
        AskAboutBigChange(sample, owner, difference, maxAdjust);
        break;
    case ADJUST_IGNORE:
        Ignore(sample);
        break;
    default:
        Accept(sample);
        break;
    }
    /* The seconds spent deciding move both clocks on alike. */
    DWORD elapsed = (GetTickCount() - start) / MS_PER_SECOND;
    sample->serverTime = Later(sample->serverTime, elapsed);
    sample->localTime = Later(sample->localTime, elapsed);
    return 0;
}
