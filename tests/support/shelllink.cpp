#include "shelllink.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

bool ReadLink(const std::string &path, std::string *target, std::string *description)
{
    CoInitialize(NULL);
    IShellLinkA *link = NULL;
    IPersistFile *file = NULL;
    bool read = false;
    WCHAR wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH);
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                   (void **)&link))) {
        if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, (void **)&file))) {
            char text[MAX_PATH];
            read = SUCCEEDED(file->Load(wide, STGM_READ))
                   && SUCCEEDED(link->GetPath(text, MAX_PATH, NULL, 0));
            *target = text;
            read = read && SUCCEEDED(link->GetDescription(text, MAX_PATH));
            *description = text;
            file->Release();
        }
        link->Release();
    }
    CoUninitialize();
    return read;
}
