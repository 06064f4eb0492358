#ifndef HORAVEX_SVCINSTALL_H
#define HORAVEX_SVCINSTALL_H

#include <windows.h>

/* Gives this program's folder a protected descriptor (administrators and
   the system may change it, users only read and run), registers this
   program as the time service (or brings an older registration up to
   date) and starts it: 0, or the Windows error.  A folder or program that
   users may still write is not registered: ERROR_ACCESS_DENIED. */
DWORD InstallTimeService(void);

/* Stops the service and waits until it has stopped: 0 (also when it is
   not installed or not running), or the Windows error. */
DWORD StopTimeService(void);

/* Stops it and removes it: 0 (also when it is not installed), or the
   Windows error. */
DWORD RemoveTimeService(void);

#endif
