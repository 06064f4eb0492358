#ifndef HORAVEX_TEST_PUMP_H
#define HORAVEX_TEST_PUMP_H

#include <windows.h>

#include <functional>

/* Dispatches this thread's messages until done() holds; false when the
   time limit passed first.  A WM_QUIT met on the way is dropped. */
bool PumpUntil(const std::function<bool()> &done, DWORD timeoutMs);

/* Dispatches what is queued now. */
void PumpPending();

/* Waits (without pumping) until done() holds; false on time-out. */
bool WaitUntil(const std::function<bool()> &done, DWORD timeoutMs);

#endif
