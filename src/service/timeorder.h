#ifndef HORAVEX_TIMEORDER_H
#define HORAVEX_TIMEORDER_H

#include <windows.h>

#include "timeclient/servicepipe.h"

/* Once, before the first request is served. */
BOOL StartTimeOrders(void);
void EndTimeOrders(void);

/* Serves one request within SERVICE_DEADLINE_MS of its start: the host
   must be one the machine chose (and is asked as the machine spells it);
   the reading is the service's own, judged by the machine's policy and
   the person's answer the request carries; the clock is set only from
   it, and only while the client still waits.  One request at a time takes
   its reading; one that cannot have its turn in time is answered busy.
   clientGone (the client left) or stopEvent ends the work at once. */
void ServeTimeOrder(const ServiceRequest *request, ServiceAnswer *answer, HANDLE clientGone,
                    HANDLE stopEvent);

#endif
