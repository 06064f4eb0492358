#include "timeclient/request.h"

#include <string.h>

#include "base/globals.h"
#include "base/textfmt.h"
#include "resource.h"
#include "timeclient/sockerr.h"
#include "timeclient/timesample.h"

#define TIME_SERVICE "time"
#define REQUEST_EVENTS (FD_READ | FD_CONNECT | FD_CLOSE)

struct sockaddr_in serverAddress;

/* Buttons of the main dialog; the hidden main window has neither. */
#define GET_TIME_BUTTON IDOK
#define CLOSE_BUTTON IDCANCEL

static void ShowRequestRunning(HWND owner)
{
    SetDlgItemTextA(owner, GET_TIME_BUTTON, "Stop!");
    EnableWindow(GetDlgItem(owner, CLOSE_BUTTON), FALSE);
}

static void ShowRequestAtRest(HWND owner)
{
    SetDlgItemTextA(owner, GET_TIME_BUTTON, "&Get time");
    EnableWindow(GetDlgItem(owner, CLOSE_BUTTON), TRUE);
}

static int FailStart(HWND owner)
{
    /* A failure box ran a message loop: the program may have ended, or a
       newer request started, and then that one's state stands. */
    AppState *state = AppStateOf(mainWindow);
    if (state != NULL && state->sock == INVALID_SOCKET) {
        state->busy = 0;
        ShowRequestAtRest(owner);
    }
    return 0;
}

int StartRequest(HWND owner, AppState *state)
{
    ShowRequestRunning(owner);
    /* An older request still holding the socket ends here, so that its
       socket is not lost. */
    if (state->sock != INVALID_SOCKET) {
        closesocket(state->sock);
        state->sock = INVALID_SOCKET;
    }
    state->startTick = GetTickCount();
    state->replyLength = 0;
    state->connected = 0;
    SOCKET timeSocket = OpenTimeSocket(TextOrEmpty(state->host), state->port, TIME_SERVICE,
                                       &serverAddress);
    if (timeSocket == INVALID_SOCKET)
        return FailStart(owner);
    if (WSAAsyncSelect(timeSocket, owner, UM_SOCKET, REQUEST_EVENTS) == SOCKET_ERROR) {
        ReportSocketError("WSAAsyncSelect Error!");
        closesocket(timeSocket);
        return FailStart(owner);
    }
    state->sock = timeSocket;
    state->busy = 1;
    state->busyCursor = LoadCursorA(appInstance, MAKEINTRESOURCEA(IDCUR_BUSY));
    SetCursor(state->busyCursor);
    /* Non-blocking: the outcome arrives as FD_CONNECT. */
    connect(timeSocket, (const struct sockaddr *)&serverAddress, sizeof serverAddress);
    return 1;
}

static BOOL ResolveHost(const char *host, struct in_addr *address)
{
    /* No host name holds one: such a name is unknown, and never looked up. */
    if (HasControlCharacter(host)) {
        WSASetLastError(WSAHOST_NOT_FOUND);
        return FALSE;
    }
    address->s_addr = inet_addr(host);
    if (address->s_addr != INADDR_NONE)
        return TRUE;
    const struct hostent *entry = gethostbyname(host);
    if (entry == NULL || entry->h_addr_list[0] == NULL)
        return FALSE;
    memcpy(address, entry->h_addr_list[0], sizeof *address);
    return TRUE;
}

SOCKET OpenTimeSocket(const char *host, DWORD port, const char *service,
                      struct sockaddr_in *address)
{
    memset(address, 0, sizeof *address);
    address->sin_family = AF_INET;
    if (!ResolveHost(host, &address->sin_addr)) {
        char shown[TEXT_BUFFER_SIZE];
        CopyPrintable(shown, sizeof shown, host);
        FormatText(textBuffer, sizeof textBuffer, "horavex: %s: unknown host", shown);
        ReportSocketError(textBuffer);
        return INVALID_SOCKET;
    }
    if (port != 0) {
        address->sin_port = htons((u_short)port);
    } else {
        const struct servent *entry = getservbyname(service, "tcp");
        if (entry == NULL) {
            ReportSocketError("horavex: getservbyname failed");
            return INVALID_SOCKET;
        }
        address->sin_port = (u_short)entry->s_port;
    }
    SOCKET timeSocket = socket(AF_INET, SOCK_STREAM, 0);
    if (timeSocket == INVALID_SOCKET)
        ReportSocketError("horavex: could not get socket");
    return timeSocket;
}

void ResetRequestControls(HWND owner, AppState *state)
{
    state->sock = INVALID_SOCKET;
    state->busy = 0;
    ShowRequestAtRest(owner);
    DestroyCursor(state->busyCursor);
    state->busyCursor = NULL;
}

void EndRequest(AppState *state)
{
    if (state->sock != INVALID_SOCKET) {
        closesocket(state->sock);
        state->sock = INVALID_SOCKET;
    }
    state->busy = 0;
}

void ContinueCalibration(HWND owner, AppState *state, SOCKET readSocket)
{
    closesocket(readSocket);
    if (state->sock == readSocket)
        state->sock = INVALID_SOCKET;
    if (!state->busy) {
        state->calibrationsLeft = 0;
        return;
    }
    state->calibrationsLeft--;
    StartRequest(owner, state);
}

BOOL NothingToRead(int received)
{
    return received == REPLY_INCOMPLETE
           || (received == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK);
}
