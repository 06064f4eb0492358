#ifndef HORAVEX_TRANSPORT_H
#define HORAVEX_TRANSPORT_H

#include <winsock2.h>
#include <windows.h>

#include "base/backgroundjob.h"

/* How a fetch hears of its sockets, its one timer and its work beside
   it: window messages for the program's windows (windowtransport.cpp),
   events for a fetch without a window (eventtransport.cpp).  context is
   the fetch's owner as the transport knows it. */
struct RequestTransport {
    /* The socket's notifications (events: FD_ bits) go to the owner;
       false, with the Windows Sockets error left, when they cannot. */
    BOOL (*watchSocket)(void *context, SOCKET sock, long events);
    /* The one timer, ms from now, and its end. */
    void (*armTimer)(void *context, DWORD ms);
    void (*disarmTimer)(void *context);
    /* Runs in the work's own thread once it is done. */
    JobNotify workDone;
};

#endif
