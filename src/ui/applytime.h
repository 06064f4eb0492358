#ifndef HORAVEX_APPLYTIME_H
#define HORAVEX_APPLYTIME_H

#include <windows.h>

#include "base/appstate.h"
#include "base/timesample.h"

/* The policy for corrections beyond maxAdjust; owner owns its "Big
   Change" question.  Sets the label and may move both times.  Returns 0. */
int CheckAdjustLimit(TimeSample *sample, HWND owner);

/* What became of ApplyTime's reading. */
enum {
    APPLY_DONE,       /* applied (or report-only): show it */
    APPLY_ASKED_AGAIN /* after "Big Change" the time service takes a new reading
                         beside the window: its outcome comes as a reading again */
};

/* The reading that counts, unless report-only: the policy, the clock and
   the log line, each failure told in a box owned by owner. */
int ApplyTime(HWND owner, TimeSample *sample, AppState *state);

#endif
