#ifndef HORAVEX_PIPESERVER_H
#define HORAVEX_PIPESERVER_H

#include <windows.h>

/* Serves the time service's pipe until stopEvent is set, and only then
   ends: each client in a thread of its own, one message each way; an
   instance that cannot be made is tried again.  started runs after the
   first try to make the pipe.  0, or the Windows error that kept the pipe's
   security from being made; *stillServed counts the clients whose threads
   had not ended in time (what they use must not be freed). */
DWORD ServeTimePipe(HANDLE stopEvent, void (*started)(void), int *stillServed);

#endif
