#include "ui/winsockbox.h"

#include <stdlib.h>

#include <windows.h>
#include <winsock2.h>

#include "base/globals.h"
#include "timeclient/sockerr.h"

#define SOCKET_MESSAGE_SIZE 1024

int ReportSocketError(const char *text)
{
    return ReportSocketFailure(text, WSAGetLastError());
}

int ReportSocketFailure(const char *text, int code)
{
    return ShowSocketMessage("\r\n%s\r\n%d: %s", text, code, SocketErrorText(code));
}

int ShowSocketMessage(const char *format, ...)
{
    char *message = (char *)malloc(SOCKET_MESSAGE_SIZE);
    if (message == NULL)
        return 0;
    va_list args;
    va_start(args, format);
    int length = FormatTextV(message, SOCKET_MESSAGE_SIZE, format, args);
    va_end(args);
    MessageBoxA(mainWindow, message, "Winsock Error", MB_ICONWARNING);
    free(message);
    return length;
}
