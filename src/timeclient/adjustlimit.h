#ifndef HORAVEX_ADJUSTLIMIT_H
#define HORAVEX_ADJUSTLIMIT_H

#include "timeclient/timesample.h"

/* Outcomes of the policy, as the log names them. */
#define LABEL_RESET "reset"
#define LABEL_ACCEPT "accept"
#define LABEL_PARTIAL "partial"
#define LABEL_IGNORE "ignore"
/* The system refused to set the clock. */
#define LABEL_FAILED "failed"

/* adjOpt: what to do beyond maxAdjust; every other value accepts. */
#define ADJUST_ASK 0
#define ADJUST_IGNORE 1
#define ADJUST_ACCEPT 2

/* The policy for corrections beyond maxAdjust; owner owns its question.
   Sets the label and may move both times.  Returns 0. */
int CheckAdjustLimit(TimeSample *sample, HWND owner);

#endif
