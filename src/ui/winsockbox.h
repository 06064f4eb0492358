#ifndef HORAVEX_WINSOCKBOX_H
#define HORAVEX_WINSOCKBOX_H

#include "base/textfmt.h"

/* Shows text with the last Windows Sockets error in a "Winsock Error" box
   owned by the main window. */
int ReportSocketError(const char *text);

/* The same with the error code the failed step left. */
int ReportSocketFailure(const char *text, int code);

/* Formats (cut to 1023 characters) and shows a "Winsock Error" box; the
   number of characters shown, or 0 when no buffer could be had. */
int ShowSocketMessage(const char *format, ...) HORAVEX_PRINTF(1, 2);

#endif
