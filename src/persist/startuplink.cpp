#include "persist/startuplink.h"

#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>
#include <string.h>

#include "persist/regkeyguard.h"

#define SHELL_FOLDERS_KEY "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"

bool GetStartupLinkPath(char *path)
{
    RegKeyGuard guard;
    if (RegCreateKeyA(HKEY_CURRENT_USER, SHELL_FOLDERS_KEY, &guard.key) != ERROR_SUCCESS)
        return false;
    char folder[STARTUP_LINK_PATH_SIZE];
    DWORD size = sizeof folder;
    LONG result = RegQueryValueExA(guard.key, "Startup", NULL, NULL, (BYTE *)folder, &size);
    guard.Close();
    size_t length = 0;
    if (result == ERROR_SUCCESS && size <= sizeof folder) {
        length = strnlen(folder, size);
        /* A cut path would name another file: without room for the name
           and the terminator there is no path at all. */
        if (length + sizeof STARTUP_LINK_NAME > MAX_PATH)
            length = 0;
    }
    if (length == 0) {
        memset(path, 0, MAX_PATH);
        return false;
    }
    memcpy(path, folder, length);
    memcpy(path + length, STARTUP_LINK_NAME, sizeof STARTUP_LINK_NAME);
    return true;
}

static bool SaveLink(IShellLinkA *link, const char *linkPath)
{
    WCHAR widePath[MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, 0, linkPath, -1, widePath, MAX_PATH) == 0)
        return false;
    IPersistFile *file = NULL;
    if (FAILED(link->QueryInterface(IID_IPersistFile, (void **)&file)))
        return false;
    bool saved = SUCCEEDED(file->Save(widePath, TRUE));
    file->Release();
    return saved;
}

bool CreateShortcut(const char *linkPath, const char *target, const char *description)
{
    CoInitialize(NULL);
    IShellLinkA *link = NULL;
    bool saved = false;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                   (void **)&link))) {
        link->SetPath(target);
        link->SetDescription(description);
        saved = SaveLink(link, linkPath);
        link->Release();
    }
    CoUninitialize();
    return saved;
}

bool FileExists(const char *path)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path, &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    FindClose(search);
    return true;
}
