#include "timeclient/manners.h"

#include <ws2tcpip.h>
#include <string.h>

/* An address as the book keeps it: small, since the book is part of the
   program file. */
struct BookAddress {
    USHORT family;
    USHORT port;
    ULONG scope;
    BYTE bytes[16];
};

struct AddressManners {
    BookAddress address;
    ServerManners manners;
};

static AddressManners book[MANNERS_BOOK_SIZE];
static int bookCount;

static BookAddress ToBookAddress(const SOCKADDR_STORAGE *address)
{
    BookAddress key;
    memset(&key, 0, sizeof key);
    key.family = address->ss_family;
    if (address->ss_family == AF_INET6) {
        const SOCKADDR_IN6 *ipv6 = (const SOCKADDR_IN6 *)address;
        key.port = ipv6->sin6_port;
        key.scope = ipv6->sin6_scope_id;
        memcpy(key.bytes, &ipv6->sin6_addr, sizeof ipv6->sin6_addr);
    } else {
        const SOCKADDR_IN *ipv4 = (const SOCKADDR_IN *)address;
        key.port = ipv4->sin_port;
        memcpy(key.bytes, &ipv4->sin_addr, sizeof ipv4->sin_addr);
    }
    return key;
}

/* A pool rotates its addresses: the one asked longest ago gives way, but
   never one that refused us. */
static AddressManners *FreeEntry(void)
{
    if (bookCount < MANNERS_BOOK_SIZE)
        return &book[bookCount++];
    AddressManners *oldest = NULL;
    DWORD now = GetTickCount();
    for (AddressManners &entry : book)
        if (entry.manners.refusal[0] == '\0'
            && (oldest == NULL
                || now - entry.manners.lastSendTick > now - oldest->manners.lastSendTick))
            oldest = &entry;
    return oldest;
}

ServerManners *MannersOfAddress(const SOCKADDR_STORAGE *address)
{
    BookAddress key = ToBookAddress(address);
    for (int i = 0; i < bookCount; i++)
        if (memcmp(&book[i].address, &key, sizeof key) == 0)
            return &book[i].manners;
    AddressManners *entry = FreeEntry();
    if (entry == NULL)
        return NULL;
    memset(entry, 0, sizeof *entry);
    entry->address = key;
    return &entry->manners;
}
