#ifndef HORAVEX_SOCKERR_H
#define HORAVEX_SOCKERR_H

#include "base/textfmt.h"

/* Shows text with the last Windows Sockets error in a "Winsock Error" box
   owned by the main window. */
int ReportSocketError(const char *text);

/* Formats (cut to 1023 characters) and shows a "Winsock Error" box; the
   number of characters shown, or 0 when no buffer could be had. */
int ShowSocketMessage(const char *format, ...) HORAVEX_PRINTF(1, 2);

/* The English text for a Windows Sockets error code. */
const char *SocketErrorText(int code);

#endif
