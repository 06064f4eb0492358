#ifndef HORAVEX_ADJUSTLIMIT_H
#define HORAVEX_ADJUSTLIMIT_H

#include <windows.h>

#include "base/timesample.h"

/* Outcomes of the policy, as the log names them. */
#define LABEL_RESET "reset"
#define LABEL_ACCEPT "accept"
#define LABEL_PARTIAL "partial"
#define LABEL_IGNORE "ignore"
/* The system refused to set the clock. */
#define LABEL_FAILED "failed"

/* adjOpt: what to do beyond maxAdjust; every other value accepts. */
#define ADJOPT_ASK 0
#define ADJOPT_IGNORE 1
#define ADJOPT_ACCEPT 2

/* What the policy says of a reading. */
enum AdjustAction {
    ADJUST_APPLY,  /* set the clock from the reading */
    ADJUST_ASK,    /* beyond the limit: ask the person about this difference */
    ADJUST_LEAVE,  /* leave the clock alone */
    ADJUST_LIMIT,  /* move the clock by the limit toward the server */
};

/* Judges the reading against maxAdjust and adjOpt and sets its label.
   Within the limit: ADJUST_APPLY, "reset".  Beyond it: ADJUST_ASK with
   nothing changed yet, or the option's answer already applied (ADJUST_LEAVE
   "ignore", ADJUST_APPLY "accept"). */
AdjustAction DecideAdjustment(TimeSample *sample, DWORD maxAdjust, int adjOpt);

/* The answer to a reading beyond the limit: APPLY accepts, LIMIT moves by
   maxAdjust, LEAVE ignores; sets the label, and the whole seconds spent
   deciding move both times on. */
void ApplyAdjustment(TimeSample *sample, AdjustAction action, DWORD maxAdjust, DWORD elapsed);

/* The difference in whole seconds as the question shows it: an SNTP
   offset rounded half away from zero. */
long long DifferenceInSeconds(const TimeSample *sample);

/* True when the reading's difference is within limit seconds. */
BOOL WithinSeconds(const TimeSample *sample, DWORD limit);

#endif
