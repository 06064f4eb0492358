#ifndef HORAVEX_PIPESERVER_H
#define HORAVEX_PIPESERVER_H

#include <windows.h>

/* Serves the time service's pipe until stopEvent is set: each client in a
   thread of its own, one message each way.  started runs once the pipe's
   first instance is the service's.  0, or the Windows error that kept the
   pipe from being made. */
DWORD ServeTimePipe(HANDLE stopEvent, void (*started)(void));

#endif
