#ifndef HORAVEX_NTSJAR_H
#define HORAVEX_NTSJAR_H

#include <winsock2.h>
#include <windows.h>

#include "timeclient/ntske.h"
#include "timeclient/ntsntp.h"

/* The keys and cookies of one NTS server, from its last key exchange, in
   this process's memory only (never written anywhere): the program keeps
   its own, the time service its own. */
#define NTS_JAR_SIZE 16

struct NtsJarEntry {
    /* The key exchange's server: the name its certificate names, and the
       address it was reached at. */
    char name[NTS_SERVER_NAME_SIZE];
    SOCKADDR_STORAGE keAddress;
    NtsKeys keys;
    int cookieCount;
    NtsCookie cookies[NTS_MOST_COOKIES];
    /* The NTPv4 server the exchange named, or its own at port 123. */
    SOCKADDR_STORAGE ntpAddress;
    int ntpAddressLength;
    LONGLONG notBefore;
    LONGLONG notAfter;
    DWORD lastUse;
};

/* The entry of the server at that address, or null. */
NtsJarEntry *FindNtsServer(const char *name, const SOCKADDR_STORAGE *keAddress);

/* Keeps what a key exchange gave, over what the server had; the server
   used longest ago gives way when the jar is full.  Null without memory. */
NtsJarEntry *KeepNtsServer(const char *name, const SOCKADDR_STORAGE *keAddress,
                           const NtsKeResult *result, const SOCKADDR_STORAGE *ntpAddress,
                           int ntpAddressLength);

/* A cookie for one request, used once; false when none is left. */
BOOL TakeNtsCookie(NtsJarEntry *entry, NtsCookie *cookie);

/* The cookies a reply brought, up to eight in all. */
void AddNtsCookies(NtsJarEntry *entry, const NtsCookie *cookies, int count);

/* After a NAK (the server changed its keys): its cookies are of no use. */
void DropNtsCookies(NtsJarEntry *entry);

/* Every server's keys and cookies wiped and given back: as the process
   ends, nothing of them is left in memory. */
void ForgetNtsServers(void);

#endif
