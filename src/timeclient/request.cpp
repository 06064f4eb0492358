#include "timeclient/request.h"

#include <string.h>

#include "base/globals.h"
#include "base/serverlist.h"
#include "base/textfmt.h"
#include "resource.h"
#include "timeclient/sntp.h"
#include "timeclient/sockerr.h"
#include "timeclient/timesample.h"

#define TIME_SERVICE "time"
#define SNTP_SERVICE "ntp"
#define REQUEST_EVENTS (FD_READ | FD_CONNECT | FD_CLOSE)
/* UDP has no connection: a read, or an error the stack reports. */
#define SNTP_EVENTS (FD_READ | FD_CLOSE)

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

static void StopRequestTimer(AppState *state)
{
    if (state->requestOwner != NULL)
        KillTimer(state->requestOwner, REQUEST_TIMER_ID);
}

static void ShowBusyCursor(AppState *state)
{
    state->busy = 1;
    state->busyCursor = LoadCursorA(appInstance, MAKEINTRESOURCEA(IDCUR_BUSY));
    SetCursor(state->busyCursor);
}

/* The socket's notifications to owner; false, with the failure reported
   and the socket closed, when they cannot be had. */
static BOOL NotifyOwner(HWND owner, SOCKET requestSocket, long events)
{
    if (WSAAsyncSelect(requestSocket, owner, UM_SOCKET, events) != SOCKET_ERROR)
        return TRUE;
    ReportSocketError("WSAAsyncSelect Error!");
    closesocket(requestSocket);
    return FALSE;
}

static int StartTimeRequest(HWND owner, AppState *state)
{
    SOCKET timeSocket = OpenTimeSocket(TextOrEmpty(state->host), state->port, TIME_SERVICE,
                                       &serverAddress);
    if (timeSocket == INVALID_SOCKET || !NotifyOwner(owner, timeSocket, REQUEST_EVENTS))
        return FailStart(owner);
    state->sock = timeSocket;
    ShowBusyCursor(state);
    /* Non-blocking: the outcome arrives as FD_CONNECT. */
    connect(timeSocket, (const struct sockaddr *)&serverAddress, sizeof serverAddress);
    return 1;
}

/* A server that refused us, or asked for fewer requests, gets no packet:
   the dialog says so, a quiet tick skips it. */
static BOOL SntpHostHeld(HWND owner, AppState *state, DWORD *waitMs)
{
    char report[TEXT_BUFFER_SIZE];
    if (SntpSendAllowed(state, waitMs, report, sizeof report))
        return FALSE;
    if (owner != mainWindow) {
        FormatText(textBuffer, sizeof textBuffer, "%s" TRY_ANOTHER_HOST_LINES, report);
        MessageBoxA(owner, textBuffer, "Connection Error", MB_ICONWARNING);
    }
    return TRUE;
}

void SendSntpPacket(HWND owner, AppState *state)
{
    if (SendSntpRequest(state))
        SetTimer(owner, REQUEST_TIMER_ID, SNTP_TIME_LIMIT_MS, NULL);
    else
        PostMessageA(owner, UM_SOCKET, (WPARAM)state->sock,
                     WSAMAKESELECTREPLY(FD_READ, WSAGetLastError()));
}

static int StartSntpRequest(HWND owner, AppState *state)
{
    DWORD waitMs = 0;
    if (SntpHostHeld(owner, state, &waitMs))
        return FailStart(owner);
    SOCKET sntpSocket = OpenServerSocket(TextOrEmpty(state->host), SNTP_PORT, SNTP_SERVICE,
                                         SOCK_DGRAM, &serverAddress);
    if (sntpSocket == INVALID_SOCKET || !NotifyOwner(owner, sntpSocket, SNTP_EVENTS))
        return FailStart(owner);
    state->sock = sntpSocket;
    state->connected = 1;
    ShowBusyCursor(state);
    /* Connected, the stack drops datagrams from any other address or port. */
    if (connect(sntpSocket, (const struct sockaddr *)&serverAddress, sizeof serverAddress) != 0) {
        PostMessageA(owner, UM_SOCKET, (WPARAM)sntpSocket,
                     WSAMAKESELECTREPLY(FD_READ, WSAGetLastError()));
        return 1;
    }
    if (waitMs == 0) {
        SendSntpPacket(owner, state);
    } else {
        state->sntp.waitingToSend = 1;
        SetTimer(owner, REQUEST_TIMER_ID, waitMs, NULL);
    }
    return 1;
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
    StopRequestTimer(state);
    state->startTick = GetTickCount();
    state->replyLength = 0;
    state->connected = 0;
    state->requestOwner = owner;
    state->requestProtocol = state->protocol == PROTOCOL_SNTP ? PROTOCOL_SNTP : PROTOCOL_TIME;
    /* A fetch starts afresh; its calibration restarts keep its best. */
    if (!state->sntp.continuing)
        state->sntp.haveBest = 0;
    state->sntp.continuing = 0;
    state->sntp.waitingToSend = 0;
    if (state->requestProtocol == PROTOCOL_SNTP)
        return StartSntpRequest(owner, state);
    return StartTimeRequest(owner, state);
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

SOCKET OpenServerSocket(const char *host, DWORD port, const char *service, int type,
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
        const struct servent *entry = getservbyname(service, type == SOCK_DGRAM ? "udp" : "tcp");
        if (entry == NULL) {
            ReportSocketError("horavex: getservbyname failed");
            return INVALID_SOCKET;
        }
        address->sin_port = (u_short)entry->s_port;
    }
    SOCKET serverSocket = socket(AF_INET, type, 0);
    if (serverSocket == INVALID_SOCKET)
        ReportSocketError("horavex: could not get socket");
    return serverSocket;
}

SOCKET OpenTimeSocket(const char *host, DWORD port, const char *service,
                      struct sockaddr_in *address)
{
    return OpenServerSocket(host, port, service, SOCK_STREAM, address);
}

void ResetRequestControls(HWND owner, AppState *state)
{
    StopRequestTimer(state);
    state->sock = INVALID_SOCKET;
    state->busy = 0;
    ShowRequestAtRest(owner);
    DestroyCursor(state->busyCursor);
    state->busyCursor = NULL;
}

void EndRequest(AppState *state)
{
    StopRequestTimer(state);
    if (state->sock != INVALID_SOCKET) {
        closesocket(state->sock);
        state->sock = INVALID_SOCKET;
    }
    state->busy = 0;
}

void ContinueCalibration(HWND owner, AppState *state, SOCKET readSocket)
{
    StopRequestTimer(state);
    closesocket(readSocket);
    if (state->sock == readSocket)
        state->sock = INVALID_SOCKET;
    if (!state->busy) {
        state->calibrationsLeft = 0;
        return;
    }
    state->calibrationsLeft--;
    state->sntp.continuing = 1;
    StartRequest(owner, state);
}

BOOL NothingToRead(int received)
{
    return received == REPLY_INCOMPLETE
           || (received == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK);
}
