#ifndef HORAVEX_SOCKERR_H
#define HORAVEX_SOCKERR_H

/* The English text for a Windows Sockets error code. */
const char *SocketErrorText(int code);

#endif
