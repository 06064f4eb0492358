#include "base/fetchtimer.h"

#define MS_PER_MINUTE 60000ULL

UINT FetchPeriod(DWORD minutes)
{
    unsigned long long period = minutes * MS_PER_MINUTE;
    return period > USER_TIMER_MAXIMUM ? USER_TIMER_MAXIMUM : (UINT)period;
}
