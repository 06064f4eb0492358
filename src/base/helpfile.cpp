#include "base/helpfile.h"

#include <windows.h>
#include <string.h>

#include "base/globals.h"

const char *HelpFilePath(char *buffer, size_t size)
{
    DWORD length = GetModuleFileNameA(NULL, buffer, (DWORD)size);
    if (length == 0 || length >= size)
        return HELP_FILE;
    char *name = strrchr(buffer, '\\');
    size_t folder = name != NULL ? (size_t)(name - buffer) + 1 : 0;
    if (folder + sizeof HELP_FILE > size)
        return HELP_FILE;
    memcpy(buffer + folder, HELP_FILE, sizeof HELP_FILE);
    return buffer;
}
