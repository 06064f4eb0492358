#ifndef HORAVEX_TIMEORDER_H
#define HORAVEX_TIMEORDER_H

#include <windows.h>

#include "timeclient/servicepipe.h"

/* Once, before the first request is served. */
BOOL StartTimeOrders(void);
void EndTimeOrders(void);

/* Serves one request: the host must be one the machine chose; the
   reading is the service's own, judged by the machine's policy and the
   person's answer the request carries; the clock is set only from it, and
   only while the client still waits on its pipe.  One request at a time
   takes its reading; stopEvent ends it early. */
void ServeTimeOrder(const ServiceRequest *request, ServiceAnswer *answer, HANDLE clientPipe,
                    HANDLE stopEvent);

#endif
