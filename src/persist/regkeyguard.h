#ifndef HORAVEX_REGKEYGUARD_H
#define HORAVEX_REGKEYGUARD_H

#include <windows.h>

/* Holds one open registry key for one operation.  Users close the key
   themselves after its last use; the guard closes it only when the
   operation is left some other way. */
struct RegKeyGuard {
    HKEY key = NULL;

    RegKeyGuard() = default;
    ~RegKeyGuard() { Close(); }
    RegKeyGuard(const RegKeyGuard &) = delete;
    RegKeyGuard &operator=(const RegKeyGuard &) = delete;

    void Close()
    {
        if (key != NULL) {
            RegCloseKey(key);
            key = NULL;
        }
    }
};

#endif
