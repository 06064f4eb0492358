#ifndef HORAVEX_REQUEST_H
#define HORAVEX_REQUEST_H

#include "base/appstate.h"

#define TIME_PORT 37

/* Address of the current request. */
extern struct sockaddr_in serverAddress;

/* Starts a request whose notifications go to owner as UM_SOCKET.
   1 when the connection attempt is under way, 0 when it failed to start
   (the failure has been reported). */
int StartRequest(HWND owner, AppState *state);

/* A new stream socket with address filled in, or INVALID_SOCKET after
   reporting the failure.  A zero port is looked up as service/tcp. */
SOCKET OpenTimeSocket(const char *host, DWORD port, const char *service,
                      struct sockaddr_in *address);

/* Back at rest, the main dialog's buttons restored; the caller has closed
   the socket. */
void ResetRequestControls(HWND owner, AppState *state);

/* Closes the socket the request holds, if any, and ends the request. */
void EndRequest(AppState *state);

/* After a calibration reading from readSocket: the next connection. */
void ContinueCalibration(HWND owner, AppState *state, SOCKET readSocket);

/* True when a read gave nothing to take yet: part of the reply (the rest
   is awaited), or no data at all, for a notification left over from a
   socket closed before (handles are reused at once). */
BOOL NothingToRead(int received);

#endif
