#ifndef HORAVEX_RESOLVE_H
#define HORAVEX_RESOLVE_H

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include "base/backgroundjob.h"

/* The addresses of a name: a pool name gives up to eight (an exchange
   tries the first four in turn; a fetch of several servers may ask each). */
#define MOST_ADDRESSES 8

struct ServerAddresses {
    int count;
    SOCKADDR_STORAGE items[MOST_ADDRESSES];
    int lengths[MOST_ADDRESSES];
};

/* The addresses of host for port, in the resolver's order (it prefers the
   one most likely to work): a name, a dotted IPv4 address (never looked
   up), or an IPv6 address bare or in brackets ("::1", "[::1]").  0, or the
   Windows Sockets error of the lookup. */
int ResolveServer(const char *host, u_short port, int type, ServerAddresses *addresses);

/* The same lookup in a thread of its own, so that its caller can wait on
   something else meanwhile (notify and its done event say when it is
   done); null when no thread could be had. */
BackgroundJob *StartLookup(const char *host, u_short port, int type, JobNotify notify,
                           void *context, WPARAM tag);

/* A finished lookup's result: 0 with its addresses, or its error;
   WSAEINPROGRESS while it runs. */
int LookupResult(BackgroundJob *job, ServerAddresses *addresses);

/* True when host is an address as written, which needs no lookup. */
BOOL IsAddressLiteral(const char *host);

/* "[::1]" names the address "::1"; anything else is the name as typed. */
void UnbracketedHost(const char *host, char *name, size_t size);

/* The same address (family, address and port). */
BOOL SameAddress(const SOCKADDR_STORAGE *one, const SOCKADDR_STORAGE *other);

/* The address with another port. */
void SetAddressPort(SOCKADDR_STORAGE *address, u_short port);

/* The address without its port, as numbers ("127.0.0.1", "::1"). */
void AddressText(const SOCKADDR_STORAGE *address, char *text, size_t size);

#endif
