#include "timeclient/resolve.h"

#include <string.h>

#include "base/globals.h"
#include "base/textfmt.h"

void UnbracketedHost(const char *host, char *name, size_t size)
{
    size_t length = strlen(host);
    if (length >= 2 && host[0] == '[' && host[length - 1] == ']' && length - 1 <= size) {
        memcpy(name, host + 1, length - 2);
        name[length - 2] = '\0';
        return;
    }
    lstrcpynA(name, host, (int)size);
}

static void AddIpv4(ServerAddresses *addresses, unsigned long address, u_short port)
{
    SOCKADDR_IN *item = (SOCKADDR_IN *)&addresses->items[0];
    memset(item, 0, sizeof addresses->items[0]);
    item->sin_family = AF_INET;
    item->sin_port = htons(port);
    item->sin_addr.s_addr = address;
    addresses->lengths[0] = sizeof *item;
    addresses->count = 1;
}

BOOL IsAddressLiteral(const char *host)
{
    if (inet_addr(host) != INADDR_NONE)
        return TRUE;
    char name[TEXT_BUFFER_SIZE];
    UnbracketedHost(host, name, sizeof name);
    SOCKADDR_STORAGE address;
    int length = sizeof address;
    return WSAStringToAddressA(name, AF_INET6, NULL, (LPSOCKADDR)&address, &length) == 0;
}

int ResolveServer(const char *host, u_short port, int type, ServerAddresses *addresses)
{
    addresses->count = 0;
    /* No host name holds a control character: such a name is unknown, and
       never looked up. */
    if (HasControlCharacter(host))
        return WSAHOST_NOT_FOUND;
    /* A dotted IPv4 address in every form inet_addr takes, as always. */
    unsigned long ipv4 = inet_addr(host);
    if (ipv4 != INADDR_NONE) {
        AddIpv4(addresses, ipv4, port);
        return 0;
    }
    char name[TEXT_BUFFER_SIZE];
    char service[8];
    UnbracketedHost(host, name, sizeof name);
    FormatText(service, sizeof service, "%u", (unsigned)port);
    ADDRINFOA hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = type;
    hints.ai_protocol = type == SOCK_DGRAM ? IPPROTO_UDP : IPPROTO_TCP;
    ADDRINFOA *found = NULL;
    int error = getaddrinfo(name, service, &hints, &found);
    if (error != 0)
        return error;
    for (const ADDRINFOA *entry = found; entry != NULL && addresses->count < MOST_ADDRESSES;
         entry = entry->ai_next) {
        if ((entry->ai_family != AF_INET && entry->ai_family != AF_INET6)
            || entry->ai_addrlen > sizeof addresses->items[0])
            continue;
        memcpy(&addresses->items[addresses->count], entry->ai_addr, entry->ai_addrlen);
        addresses->lengths[addresses->count++] = (int)entry->ai_addrlen;
    }
    freeaddrinfo(found);
    return addresses->count != 0 ? 0 : WSAHOST_NOT_FOUND;
}

/* A lookup, done beside its caller. */
struct LookupWork {
    char host[TEXT_BUFFER_SIZE];
    u_short port;
    int type;
    ServerAddresses addresses;
    int error;
};

static void LookUp(void *data, HANDLE)
{
    LookupWork *work = (LookupWork *)data;
    work->error = ResolveServer(work->host, work->port, work->type, &work->addresses);
}

BackgroundJob *StartLookup(const char *host, u_short port, int type, JobNotify notify,
                           void *context, WPARAM tag)
{
    LookupWork work;
    memset(&work, 0, sizeof work);
    lstrcpynA(work.host, host, sizeof work.host);
    work.port = port;
    work.type = type;
    return StartBackgroundJob(LookUp, &work, sizeof work, notify, context, tag);
}

int LookupResult(BackgroundJob *job, ServerAddresses *addresses)
{
    const LookupWork *work = (const LookupWork *)FinishedJobData(job);
    if (work == NULL)
        return WSAEINPROGRESS;
    *addresses = work->addresses;
    return work->error;
}

void SetAddressPort(SOCKADDR_STORAGE *address, u_short port)
{
    if (address->ss_family == AF_INET6)
        ((SOCKADDR_IN6 *)address)->sin6_port = htons(port);
    else
        ((SOCKADDR_IN *)address)->sin_port = htons(port);
}

void AddressText(const SOCKADDR_STORAGE *address, char *text, size_t size)
{
    int length = address->ss_family == AF_INET6 ? sizeof(SOCKADDR_IN6) : sizeof(SOCKADDR_IN);
    if (size == 0)
        return;
    if (getnameinfo((const struct sockaddr *)address, length, text, (DWORD)size, NULL, 0,
                    NI_NUMERICHOST)
        != 0)
        lstrcpynA(text, "?", (int)size);
}

BOOL SameAddress(const SOCKADDR_STORAGE *one, const SOCKADDR_STORAGE *other)
{
    if (one->ss_family != other->ss_family)
        return FALSE;
    if (one->ss_family == AF_INET) {
        const SOCKADDR_IN *a = (const SOCKADDR_IN *)one;
        const SOCKADDR_IN *b = (const SOCKADDR_IN *)other;
        return a->sin_port == b->sin_port && a->sin_addr.s_addr == b->sin_addr.s_addr;
    }
    const SOCKADDR_IN6 *a = (const SOCKADDR_IN6 *)one;
    const SOCKADDR_IN6 *b = (const SOCKADDR_IN6 *)other;
    return a->sin6_port == b->sin6_port && a->sin6_scope_id == b->sin6_scope_id
           && memcmp(&a->sin6_addr, &b->sin6_addr, sizeof a->sin6_addr) == 0;
}
