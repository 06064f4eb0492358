#ifndef HORAVEX_BASE_FETCHTIMER_H
#define HORAVEX_BASE_FETCHTIMER_H

#include <windows.h>

/* The main window's periodic fetch timer. */
#define FETCH_TIMER_ID 100

/* Milliseconds between fetches for a period in minutes, capped at what
   SetTimer takes. */
UINT FetchPeriod(DWORD minutes);

#endif
