#ifndef HORAVEX_TEST_REGISTRY_H
#define HORAVEX_TEST_REGISTRY_H

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

/* The program's keys, as the 32-bit program sees them. */
#define SETTINGS_KEY "Software\\Quillmoor\\Horavex"
#define HOSTS_KEY "Software\\Quillmoor\\Horavex\\hosts"
#define VENDOR_KEY "Software\\Quillmoor"

struct RegValue {
    std::string name;
    DWORD type;
    std::string data;
};

/* A key with all its values and subkeys, read back and written again
   exactly, so that a test leaves the registry as it found it. */
class RegistrySnapshot {
public:
    RegistrySnapshot(HKEY root, const char *path);
    ~RegistrySnapshot();
    RegistrySnapshot(const RegistrySnapshot &) = delete;
    RegistrySnapshot &operator=(const RegistrySnapshot &) = delete;

private:
    struct Node {
        std::vector<RegValue> values;
        std::map<std::string, Node> keys;
    };
    static bool Read(HKEY key, Node *node);
    static void Write(HKEY key, const Node &node);

    HKEY root_;
    std::string path_;
    bool existed_;
    Node saved_;
};

/* The [sounds] entries of the profile that the program registers. */
class SoundsSnapshot {
public:
    SoundsSnapshot();
    ~SoundsSnapshot();

private:
    std::map<std::string, std::pair<bool, std::string>> saved_;
};

/* A volatile registry link at path (under HKEY_LOCAL_MACHINE) that leads
   nowhere: every key below it can be neither opened nor created. */
class DanglingKeyLink {
public:
    explicit DanglingKeyLink(const char *path);
    ~DanglingKeyLink();
    DanglingKeyLink(const DanglingKeyLink &) = delete;
    DanglingKeyLink &operator=(const DanglingKeyLink &) = delete;

    bool Made() const { return made_; }

private:
    std::string path_;
    bool made_ = false;
};

/* A key (made if missing) whose security lets everyone read it but write
   no value into it, as HKEY_LOCAL_MACHINE is for a program without
   elevation (by default neither make subkeys nor delete it either); its
   own security is put back at the end. */
class UnwritableKey {
public:
    UnwritableKey(HKEY root, const char *path,
                  DWORD denied = DELETE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY);
    ~UnwritableKey();
    UnwritableKey(const UnwritableKey &) = delete;
    UnwritableKey &operator=(const UnwritableKey &) = delete;

    bool Made() const { return made_; }

private:
    HKEY root_;
    std::string path_;
    std::string saved_;
    bool made_ = false;
};

extern const char *const kSoundKeys[3];

bool KeyExists(HKEY root, const char *path);
void DeleteKeyTree(HKEY root, const char *path);
void SetRegString(HKEY root, const char *path, const char *name, const std::string &text);
void SetRegDword(HKEY root, const char *path, const char *name, DWORD value);
/* Any type, any size. */
void SetRegRaw(HKEY root, const char *path, const char *name, DWORD type, const std::string &data);
bool ReadRegValue(HKEY root, const char *path, const char *name, RegValue *value);
std::vector<RegValue> ReadRegValues(HKEY root, const char *path);
/* The value's data, if it is a REG_DWORD of 4 bytes; else -1. */
long long ReadRegDword(HKEY root, const char *path, const char *name);
/* The value's text, if it is a REG_SZ; else "<missing>" or "<type n>". */
std::string ReadRegString(HKEY root, const char *path, const char *name);

#endif
