#ifndef HORAVEX_REQUEST_H
#define HORAVEX_REQUEST_H

#include "base/appstate.h"
#include "timeclient/timeproto.h"

/* The owner's timer that paces an SNTP exchange: the wait before its
   packet goes, then its time limit. */
#define REQUEST_TIMER_ID 102

/* Address of the current request. */
extern struct sockaddr_in serverAddress;

/* Starts a request in the protocol of the settings, whose notifications go
   to owner as UM_SOCKET (and WM_TIMER REQUEST_TIMER_ID).  1 when it is
   under way, 0 when it failed to start (the failure has been reported). */
int StartRequest(HWND owner, AppState *state);

/* A new stream socket with address filled in, or INVALID_SOCKET after
   reporting the failure.  A zero port is looked up as service/tcp. */
SOCKET OpenTimeSocket(const char *host, DWORD port, const char *service,
                      struct sockaddr_in *address);

/* The same for a socket of type (SOCK_STREAM or SOCK_DGRAM). */
SOCKET OpenServerSocket(const char *host, DWORD port, const char *service, int type,
                        struct sockaddr_in *address);

/* Back at rest, the main dialog's buttons restored; the caller has closed
   the socket. */
void ResetRequestControls(HWND owner, AppState *state);

/* Closes the socket the request holds, if any, and ends the request. */
void EndRequest(AppState *state);

/* After a calibration reading from readSocket: the next connection. */
void ContinueCalibration(HWND owner, AppState *state, SOCKET readSocket);

/* Sends the SNTP packet of the request now and starts its time limit; a
   failure comes to the owner as an error notification. */
void SendSntpPacket(HWND owner, AppState *state);

/* True when a read gave nothing to take yet: part of the reply (the rest
   is awaited), or no data at all, for a notification left over from a
   socket closed before (handles are reused at once). */
BOOL NothingToRead(int received);

#endif
