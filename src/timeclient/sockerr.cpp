#include "timeclient/sockerr.h"

#include <windows.h>
#include <winsock2.h>

static const struct {
    int code;
    const char *text;
} socketErrorTexts[] = {
    {WSAEINTR, "The blocking call was cancelled"},
    {WSAEFAULT, "The namelen argument is incorrect"},
    {WSAEINVAL, "The socket is not already bound to an address"},
    {WSAEMFILE, "No more file descriptors are available"},
    {WSAEWOULDBLOCK, "The socket is marked as non-blocking - operation would block"},
    {WSAEINPROGRESS, "Blocking operation is in progress"},
    {WSAENOTSOCK, "The descriptor is not a socket"},
    {WSAEDESTADDRREQ, "A destination address is required"},
    {WSAEPROTOTYPE, "The specified protocol is the wrong type for this socket"},
    {WSAEPROTONOSUPPORT, "The specified protocol is not supported"},
    {WSAESOCKTNOSUPPORT, "The specified socket type is not supported in this address family"},
    {WSAEAFNOSUPPORT, "Specified address family not supported"},
    {WSAEADDRINUSE, "The specified address is already in use"},
    {WSAEADDRNOTAVAIL, "The specified address is not available to local machine"},
    {WSAENETDOWN, "Network subsystem has failed"},
    {WSAENETUNREACH, "The network cannot be reached from this host at this time"},
    {WSAECONNRESET, "The virtual circuit was reset by the remote side"},
    {WSAENOBUFS, "No buffer space is available.  The socket cannot be created"},
    {WSAEISCONN, "The socket is already connected"},
    {WSAETIMEDOUT, "Attempt to connect timed out"},
    {WSAECONNREFUSED, "The attempt to connect was refused"},
    {WSANOTINITIALISED, "A successful WSAStartup() was not called"},
};

const char *SocketErrorText(int code)
{
    for (const auto &entry : socketErrorTexts)
        if (entry.code == code)
            return entry.text;
    return "unknown error";
}
