#ifndef HORAVEX_MANNERS_H
#define HORAVEX_MANNERS_H

#include <winsock2.h>
#include <windows.h>

#include "timeclient/sntp.h"

/* Server addresses whose manners this process keeps: the spacing, a RATE
   kiss's hold, a DENY or RSTR refusal. */
#define MANNERS_BOOK_SIZE 64

/* How this process treats one server address, whatever name or spelling
   led to it and whichever window or client asks: one book a process, so
   that a refusal holds that address until the process starts again.  The
   program asks from its one thread, the service one exchange at a time.
   Null only when every entry of the book holds a refusal: nothing may go
   to a new address then. */
ServerManners *MannersOfAddress(const SOCKADDR_STORAGE *address);

#endif
