#include "registry.h"

#include <stdio.h>

#include <sddl.h>
#include <string.h>

const char *const kSoundKeys[3] = {"horavexConnect", "horavexReset", "horavexMaxAdj"};

bool RegistrySnapshot::Read(HKEY key, Node *node)
{
    for (DWORD i = 0;; i++) {
        char name[16384];
        DWORD nameSize = sizeof name;
        DWORD type = 0;
        DWORD dataSize = 0;
        if (RegEnumValueA(key, i, name, &nameSize, NULL, &type, NULL, &dataSize) != ERROR_SUCCESS)
            break;
        std::string data(dataSize, '\0');
        nameSize = sizeof name;
        RegEnumValueA(key, i, name, &nameSize, NULL, &type,
                      reinterpret_cast<BYTE *>(&data[0]), &dataSize);
        data.resize(dataSize);
        node->values.push_back({std::string(name, nameSize), type, data});
    }
    for (DWORD i = 0;; i++) {
        char name[256];
        DWORD nameSize = sizeof name;
        if (RegEnumKeyExA(key, i, name, &nameSize, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        HKEY child;
        if (RegOpenKeyExA(key, name, 0, KEY_READ, &child) == ERROR_SUCCESS) {
            Read(child, &node->keys[name]);
            RegCloseKey(child);
        }
    }
    return true;
}

void RegistrySnapshot::Write(HKEY key, const Node &node)
{
    for (const RegValue &value : node.values)
        RegSetValueExA(key, value.name.c_str(), 0, value.type,
                       reinterpret_cast<const BYTE *>(value.data.data()), (DWORD)value.data.size());
    for (const auto &child : node.keys) {
        HKEY subkey;
        if (RegCreateKeyA(key, child.first.c_str(), &subkey) == ERROR_SUCCESS) {
            Write(subkey, child.second);
            RegCloseKey(subkey);
        }
    }
}

RegistrySnapshot::RegistrySnapshot(HKEY root, const char *path)
    : root_(root), path_(path), existed_(false)
{
    HKEY key;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        existed_ = true;
        Read(key, &saved_);
        RegCloseKey(key);
    }
}

RegistrySnapshot::~RegistrySnapshot()
{
    DeleteKeyTree(root_, path_.c_str());
    if (!existed_)
        return;
    HKEY key;
    if (RegCreateKeyA(root_, path_.c_str(), &key) == ERROR_SUCCESS) {
        Write(key, saved_);
        RegCloseKey(key);
    }
}

SoundsSnapshot::SoundsSnapshot()
{
    for (const char *key : kSoundKeys) {
        char text[512];
        GetProfileStringA("sounds", key, "\x01", text, sizeof text);
        bool present = lstrcmpA(text, "\x01") != 0;
        saved_[key] = {present, present ? text : ""};
    }
}

SoundsSnapshot::~SoundsSnapshot()
{
    for (const auto &entry : saved_)
        WriteProfileStringA("sounds", entry.first.c_str(),
                            entry.second.first ? entry.second.second.c_str() : NULL);
}

DanglingKeyLink::DanglingKeyLink(const char *path) : path_(path)
{
    HKEY key;
    DWORD disposition;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, NULL,
                        REG_OPTION_CREATE_LINK | REG_OPTION_VOLATILE,
                        KEY_ALL_ACCESS | KEY_CREATE_LINK, NULL, &key, &disposition) != ERROR_SUCCESS)
        return;
    static const wchar_t target[] = L"\\Registry\\Machine\\Software\\HoravexTestNowhere\\x";
    made_ = RegSetValueExW(key, L"SymbolicLinkValue", 0, REG_LINK,
                           reinterpret_cast<const BYTE *>(target),
                           (DWORD)(sizeof target - sizeof target[0])) == ERROR_SUCCESS;
    RegCloseKey(key);
}

DanglingKeyLink::~DanglingKeyLink()
{
    typedef LONG(WINAPI * DeleteKeyCall)(HANDLE);
    DeleteKeyCall deleteKey = reinterpret_cast<DeleteKeyCall>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtDeleteKey")));
    HKEY link;
    if (deleteKey != NULL && RegOpenKeyExA(HKEY_LOCAL_MACHINE, path_.c_str(), REG_OPTION_OPEN_LINK,
                                           DELETE, &link) == ERROR_SUCCESS) {
        deleteKey(link);
        RegCloseKey(link);
    }
}

UnwritableKey::UnwritableKey(HKEY root, const char *path, DWORD denied)
    : root_(root), path_(path)
{
    HKEY key;
    if (RegCreateKeyA(root, path, &key) != ERROR_SUCCESS)
        return;
    DWORD size = 0;
    RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, NULL, &size);
    saved_.resize(size);
    PSECURITY_DESCRIPTOR denying = NULL;
    /* Everyone: the denied rights refused; the rest, the right to change
       this back included, allowed. */
    char sddl[64];
    snprintf(sddl, sizeof sddl, "D:(D;;0x%lx;;;WD)(A;;KA;;;WD)", (unsigned long)denied);
    if (size != 0
        && RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, &saved_[0], &size) == ERROR_SUCCESS
        && ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &denying,
                                                                NULL)) {
        made_ = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, denying) == ERROR_SUCCESS;
        LocalFree(denying);
    }
    RegCloseKey(key);
}

UnwritableKey::~UnwritableKey()
{
    HKEY key;
    if (!made_ || RegOpenKeyExA(root_, path_.c_str(), 0, WRITE_DAC, &key) != ERROR_SUCCESS)
        return;
    RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &saved_[0]);
    RegCloseKey(key);
}

bool KeyExists(HKEY root, const char *path)
{
    HKEY key;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

void DeleteKeyTree(HKEY root, const char *path)
{
    HKEY key;
    if (RegOpenKeyExA(root, path, 0, KEY_READ | KEY_WRITE, &key) != ERROR_SUCCESS)
        return;
    for (;;) {
        char name[256];
        DWORD nameSize = sizeof name;
        if (RegEnumKeyExA(key, 0, name, &nameSize, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        std::string child = std::string(path) + "\\" + name;
        DeleteKeyTree(root, child.c_str());
    }
    RegCloseKey(key);
    RegDeleteKeyA(root, path);
}

void SetRegRaw(HKEY root, const char *path, const char *name, DWORD type, const std::string &data)
{
    HKEY key;
    if (RegCreateKeyA(root, path, &key) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE *>(data.data()),
                   (DWORD)data.size());
    RegCloseKey(key);
}

void SetRegString(HKEY root, const char *path, const char *name, const std::string &text)
{
    SetRegRaw(root, path, name, REG_SZ, std::string(text.c_str(), text.size() + 1));
}

void SetRegDword(HKEY root, const char *path, const char *name, DWORD value)
{
    SetRegRaw(root, path, name, REG_DWORD,
              std::string(reinterpret_cast<const char *>(&value), sizeof value));
}

bool ReadRegValue(HKEY root, const char *path, const char *name, RegValue *value)
{
    HKEY key;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    DWORD size = 0;
    DWORD type = 0;
    bool found = RegQueryValueExA(key, name, NULL, &type, NULL, &size) == ERROR_SUCCESS;
    if (found) {
        std::string data(size, '\0');
        RegQueryValueExA(key, name, NULL, &type, reinterpret_cast<BYTE *>(&data[0]), &size);
        data.resize(size);
        *value = {name, type, data};
    }
    RegCloseKey(key);
    return found;
}

std::vector<RegValue> ReadRegValues(HKEY root, const char *path)
{
    std::vector<RegValue> values;
    HKEY key;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return values;
    for (DWORD i = 0;; i++) {
        char name[256];
        DWORD nameSize = sizeof name;
        DWORD type = 0;
        char data[4096];
        DWORD dataSize = sizeof data;
        if (RegEnumValueA(key, i, name, &nameSize, NULL, &type, reinterpret_cast<BYTE *>(data),
                          &dataSize) != ERROR_SUCCESS)
            break;
        values.push_back({std::string(name, nameSize), type, std::string(data, dataSize)});
    }
    RegCloseKey(key);
    return values;
}

long long ReadRegDword(HKEY root, const char *path, const char *name)
{
    RegValue value;
    if (!ReadRegValue(root, path, name, &value) || value.type != REG_DWORD || value.data.size() != 4)
        return -1;
    DWORD number;
    memcpy(&number, value.data.data(), 4);
    return number;
}

std::string ReadRegString(HKEY root, const char *path, const char *name)
{
    RegValue value;
    if (!ReadRegValue(root, path, name, &value))
        return "<missing>";
    if (value.type != REG_SZ)
        return "<type " + std::to_string(value.type) + ">";
    std::string text = value.data;
    if (!text.empty() && text.back() == '\0')
        text.pop_back();
    return text;
}
