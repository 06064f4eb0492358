#include "timeclient/sockerr.h"

#include <windows.h>

#include "app/globals.h"

/* The caller's text alone for now; the error texts come later. */
int ReportSocketError(const char *text)
{
    return ShowSocketMessage("%s", text);
}

int ShowSocketMessage(const char *format, ...)
{
    char message[1024];
    va_list args;
    va_start(args, format);
    int length = FormatTextV(message, sizeof message, format, args);
    va_end(args);
    MessageBoxA(mainWindow, message, "Winsock Error", MB_ICONWARNING);
    return length;
}
