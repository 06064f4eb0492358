#ifndef HORAVEX_ADJUSTLIMIT_H
#define HORAVEX_ADJUSTLIMIT_H

#include "timeclient/timesample.h"

/* The policy for corrections beyond maxAdjust; owner owns its question. */
int CheckAdjustLimit(TimeSample *sample, HWND owner);

#endif
