#include "timeclient/ntsjar.h"

#include <stdlib.h>
#include <string.h>

#include "base/textfmt.h"
#include "timeclient/resolve.h"

/* On the heap, not in the program's file; made as servers come. */
static NtsJarEntry *jar[NTS_JAR_SIZE];

NtsJarEntry *FindNtsServer(const char *name, const SOCKADDR_STORAGE *keAddress)
{
    for (NtsJarEntry *entry : jar)
        if (entry != NULL && SameHostName(entry->name, name)
            && SameAddress(&entry->keAddress, keAddress)) {
            entry->lastUse = GetTickCount();
            return entry;
        }
    return NULL;
}

static NtsJarEntry **FreeSlot(void)
{
    NtsJarEntry **oldest = NULL;
    DWORD now = GetTickCount();
    for (NtsJarEntry *&entry : jar) {
        if (entry == NULL)
            return &entry;
        if (oldest == NULL || now - entry->lastUse > now - (*oldest)->lastUse)
            oldest = &entry;
    }
    return oldest;
}

NtsJarEntry *KeepNtsServer(const char *name, const SOCKADDR_STORAGE *keAddress,
                           const NtsKeResult *result, const SOCKADDR_STORAGE *ntpAddress,
                           int ntpAddressLength)
{
    NtsJarEntry *entry = FindNtsServer(name, keAddress);
    if (entry == NULL) {
        NtsJarEntry **slot = FreeSlot();
        if (*slot == NULL)
            *slot = (NtsJarEntry *)malloc(sizeof **slot);
        entry = *slot;
        if (entry == NULL)
            return NULL;
    }
    SecureZeroMemory(entry, sizeof *entry);
    lstrcpynA(entry->name, name, sizeof entry->name);
    entry->keAddress = *keAddress;
    entry->keys = result->keys;
    entry->cookieCount = result->cookieCount;
    memcpy(entry->cookies, result->cookies, sizeof entry->cookies);
    entry->ntpAddress = *ntpAddress;
    entry->ntpAddressLength = ntpAddressLength;
    entry->notBefore = result->notBefore;
    entry->notAfter = result->notAfter;
    entry->lastUse = GetTickCount();
    return entry;
}

BOOL TakeNtsCookie(NtsJarEntry *entry, NtsCookie *cookie)
{
    if (entry->cookieCount == 0)
        return FALSE;
    *cookie = entry->cookies[0];
    entry->cookieCount--;
    memmove(&entry->cookies[0], &entry->cookies[1],
            (size_t)entry->cookieCount * sizeof entry->cookies[0]);
    SecureZeroMemory(&entry->cookies[entry->cookieCount], sizeof entry->cookies[0]);
    return TRUE;
}

void AddNtsCookies(NtsJarEntry *entry, const NtsCookie *cookies, int count)
{
    for (int i = 0; i < count && entry->cookieCount < NTS_MOST_COOKIES; i++)
        entry->cookies[entry->cookieCount++] = cookies[i];
}

void DropNtsCookies(NtsJarEntry *entry)
{
    SecureZeroMemory(entry->cookies, sizeof entry->cookies);
    entry->cookieCount = 0;
}

void ForgetNtsServers(void)
{
    for (NtsJarEntry *&entry : jar) {
        if (entry == NULL)
            continue;
        SecureZeroMemory(entry, sizeof *entry);
        free(entry);
        entry = NULL;
    }
}
