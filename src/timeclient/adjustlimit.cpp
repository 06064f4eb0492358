#include "timeclient/adjustlimit.h"

#include "base/precisetime.h"

long long DifferenceInSeconds(const TimeSample *sample)
{
    if (!sample->precise)
        return (long long)sample->serverTime - sample->localTime;
    LONGLONG half = sample->offset < 0 ? -TICKS_PER_SECOND / 2 : TICKS_PER_SECOND / 2;
    return (long long)((sample->offset + half) / TICKS_PER_SECOND);
}

BOOL WithinSeconds(const TimeSample *sample, DWORD limit)
{
    if (sample->precise) {
        LONGLONG size = sample->offset < 0 ? -sample->offset : sample->offset;
        return size <= (LONGLONG)limit * TICKS_PER_SECOND;
    }
    long long difference = (long long)sample->serverTime - sample->localTime;
    unsigned long long size = difference < 0 ? -difference : difference;
    return size <= limit;
}

/* Adds seconds to a time, which stays unknown (negative) when it was. */
static LONG Later(LONG time, DWORD seconds)
{
    return time < 0 ? time : (LONG)((DWORD)time + seconds);
}

/* Whole seconds, as the Time protocol gives them. */
static void ApplyToSeconds(TimeSample *sample, AdjustAction action, DWORD elapsed)
{
    /* Moving from a local clock that reads outside 1970 to 2038 would set
       a made-up time: leave the clock alone instead. */
    if (action == ADJUST_LIMIT && sample->localTime < 0)
        action = ADJUST_LEAVE;
    if (action == ADJUST_LIMIT) {
        sample->label = LABEL_PARTIAL;
        sample->serverTime = sample->partialTime;
    } else if (action == ADJUST_LEAVE) {
        sample->label = LABEL_IGNORE;
        sample->serverTime = sample->localTime;
    }
    /* The seconds spent deciding move both clocks on alike. */
    sample->serverTime = Later(sample->serverTime, elapsed);
    sample->localTime = Later(sample->localTime, elapsed);
}

/* An SNTP reading keeps only its offset: the clock it is added to is read
   when it is set, after the question. */
static void ApplyToOffset(TimeSample *sample, AdjustAction action, DWORD maxAdjust)
{
    LONGLONG limit = (LONGLONG)maxAdjust * TICKS_PER_SECOND;
    if (action == ADJUST_LIMIT) {
        sample->label = LABEL_PARTIAL;
        sample->offset = sample->offset >= 0 ? limit : -limit;
    } else if (action == ADJUST_LEAVE) {
        sample->label = LABEL_IGNORE;
        sample->offset = 0;
    }
}

void ApplyAdjustment(TimeSample *sample, AdjustAction action, DWORD maxAdjust, DWORD elapsed)
{
    sample->label = LABEL_ACCEPT;
    if (sample->precise)
        ApplyToOffset(sample, action, maxAdjust);
    else
        ApplyToSeconds(sample, action, elapsed);
}

AdjustAction DecideAdjustment(TimeSample *sample, DWORD maxAdjust, int adjOpt)
{
    sample->label = LABEL_RESET;
    if (maxAdjust == 0 || WithinSeconds(sample, maxAdjust))
        return ADJUST_APPLY;
    /* The local clock moved by the limit toward the server. */
    if (!sample->precise)
        sample->partialTime = sample->serverTime >= sample->localTime
                                  ? (LONG)((DWORD)sample->localTime + maxAdjust)
                                  : (LONG)((DWORD)sample->localTime - maxAdjust);
    switch (adjOpt) {
    case ADJOPT_ASK:
        return ADJUST_ASK;
    case ADJOPT_IGNORE:
        ApplyAdjustment(sample, ADJUST_LEAVE, maxAdjust, 0);
        return ADJUST_LEAVE;
    default:
        ApplyAdjustment(sample, ADJUST_APPLY, maxAdjust, 0);
        return ADJUST_APPLY;
    }
}
