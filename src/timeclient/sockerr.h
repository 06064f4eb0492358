#ifndef HORAVEX_SOCKERR_H
#define HORAVEX_SOCKERR_H

#include "app/textfmt.h"

/* Shows text with the last Windows Sockets error in a "Winsock Error" box. */
int ReportSocketError(const char *text);

int ShowSocketMessage(const char *format, ...) HORAVEX_PRINTF(1, 2);

#endif
