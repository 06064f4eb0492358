#include "timeclient/adjustlimit.h"

/* No limit yet: every reading resets the clock. */
int CheckAdjustLimit(TimeSample *sample, HWND owner)
{
    (void)owner;
    sample->label = "reset";
    return 0;
}
