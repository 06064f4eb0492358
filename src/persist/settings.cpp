#include "persist/settings.h"

#include <ctype.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include "base/globals.h"
#include "base/stringlist.h"
#include "base/textfmt.h"
#include "persist/regkeyguard.h"

#define SETTINGS_KEY "Software\\Quillmoor\\Horavex"
#define HOSTS_KEY "Software\\Quillmoor\\Horavex\\hosts"
#define HOSTS_SUBKEY "hosts"
#define HOST_VALUE_FORMAT "host%d"

#define DEFAULT_ATTEMPTS 3
#define DEFAULT_AUTO_START 1
#define DEFAULT_MAX_ADJUST 120

/* TEXT_UNREADABLE: there, but too long to be a text of ours; TEXT_FAILED:
   the query itself failed (the key was deleted meanwhile, say). */
enum TextRead { TEXT_READ, TEXT_MISSING, TEXT_UNREADABLE, TEXT_FAILED };

/* Reads a value into textBuffer, always terminated, and empty unless
   TEXT_READ: data that is a terminated text of at most 511 characters. */
static TextRead ReadValue(HKEY key, const char *name, DWORD *type)
{
    DWORD size = TEXT_BUFFER_SIZE;
    LONG result = RegQueryValueExA(key, name, NULL, type, (BYTE *)textBuffer, &size);
    if (result != ERROR_SUCCESS) {
        textBuffer[0] = '\0';
        if (result == ERROR_FILE_NOT_FOUND)
            return TEXT_MISSING;
        return result == ERROR_MORE_DATA ? TEXT_UNREADABLE : TEXT_FAILED;
    }
    if (size > TEXT_BUFFER_SIZE) {
        textBuffer[0] = '\0';
        return TEXT_UNREADABLE;
    }
    if (size == 0 || textBuffer[size - 1] == '\0')
        textBuffer[size == 0 ? 0 : size - 1] = '\0';
    else if (size < TEXT_BUFFER_SIZE)
        textBuffer[size] = '\0';
    else {
        /* 512 characters without a terminator: too long, like 512 with one. */
        textBuffer[0] = '\0';
        return TEXT_UNREADABLE;
    }
    return TEXT_READ;
}

static BOOL ReadText(HKEY key, const char *name)
{
    DWORD type;
    return ReadValue(key, name, &type) == TEXT_READ;
}

static BOOL IsTextType(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ;
}

/* A plain decimal number of at most 32 bits, digits only. */
static BOOL ParseDecimal(const char *text, DWORD *value)
{
    unsigned long long number = 0;
    if (*text == '\0')
        return FALSE;
    for (; *text != '\0'; text++) {
        if (*text < '0' || *text > '9')
            return FALSE;
        number = number * 10 + (unsigned long long)(*text - '0');
        if (number > 0xFFFFFFFFULL)
            return FALSE;
    }
    *value = (DWORD)number;
    return TRUE;
}

/* A stored number: binary data of one to four bytes, zero-extended, or a
   text that spells a plain decimal number; fallback for anything else. */
static DWORD ReadNumber(HKEY key, const char *name, DWORD fallback)
{
    BYTE data[TEXT_BUFFER_SIZE];
    DWORD type = REG_NONE;
    DWORD size = sizeof data - 1;
    if (RegQueryValueExA(key, name, NULL, &type, data, &size) != ERROR_SUCCESS || size == 0)
        return fallback;
    DWORD value = 0;
    if (IsTextType(type)) {
        data[size] = '\0';
        return ParseDecimal((const char *)data, &value) ? value : fallback;
    }
    if (size > sizeof value)
        return fallback;
    memcpy(&value, data, size);
    return value;
}

static BOOL WriteText(HKEY key, const char *name, const char *text)
{
    return RegSetValueExA(key, name, 0, REG_SZ, (const BYTE *)text, (DWORD)strlen(text) + 1)
           == ERROR_SUCCESS;
}

static BOOL WriteNumber(HKEY key, const char *name, DWORD value)
{
    return RegSetValueExA(key, name, 0, REG_DWORD, (const BYTE *)&value, sizeof value)
           == ERROR_SUCCESS;
}

/* What a settings key that holds no values gives. */
static void SetDefaults(AppState *state)
{
    state->host = ReplaceString(state->host, "");
    state->attempts = DEFAULT_ATTEMPTS;
    state->autoStart = DEFAULT_AUTO_START;
    state->maxAdjust = DEFAULT_MAX_ADJUST;
    state->logPath = ReplaceString(state->logPath, "");
}

static void ReadTextInto(HKEY key, const char *name, char **field)
{
    if (ReadText(key, name))
        *field = ReplaceString(*field, textBuffer);
}

/* Every value that key holds replaces its field; the others stay. */
static void ReadMainValues(HKEY key, AppState *state)
{
    ReadTextInto(key, "host", &state->host);
    state->attempts = ReadNumber(key, "attempts", state->attempts);
    state->reportOnly = (int)ReadNumber(key, "reportOnly", (DWORD)state->reportOnly);
    state->autoStart = (int)ReadNumber(key, "autoStart", (DWORD)state->autoStart);
    state->autoClose = (int)ReadNumber(key, "autoClose", (DWORD)state->autoClose);
    state->sysTray = (int)ReadNumber(key, "sysTray", (DWORD)state->sysTray);
    state->quiet = (int)ReadNumber(key, "quiet", (DWORD)state->quiet);
    state->maxAdjust = ReadNumber(key, "maxAdjust", state->maxAdjust);
    state->logOpts = (int)ReadNumber(key, "logOpts", (DWORD)state->logOpts);
    state->adjOpt = (int)ReadNumber(key, "adjOpt", (DWORD)state->adjOpt);
    ReadTextInto(key, "logPath", &state->logPath);
    state->timeOut = ReadNumber(key, "timeOut", state->timeOut);
    state->protocol = (int)ReadNumber(key, "protocol", (DWORD)state->protocol);
}

static BOOL IsListedHost(const char *text)
{
    return text[0] != '\0' && !isspace((unsigned char)text[0]);
}

/* A multi-string counts by its first text, as the current host does. */
static BOOL IsHostEntryType(DWORD type)
{
    return IsTextType(type) || type == REG_MULTI_SZ;
}

void LoadHostList(HKEY key, StringList *hosts)
{
    for (int n = 0; n < INT_MAX; n++) {
        char name[32];
        FormatText(name, sizeof name, HOST_VALUE_FORMAT, n);
        DWORD type = REG_NONE;
        TextRead read = ReadValue(key, name, &type);
        if (read == TEXT_MISSING || read == TEXT_FAILED)
            break;
        if (read == TEXT_READ && IsHostEntryType(type) && IsListedHost(textBuffer))
            StringListAdd(hosts, textBuffer);
    }
}

static BOOL OpenExistingKey(HKEY root, const char *path, HKEY *key)
{
    return RegOpenKeyExA(root, path, 0, KEY_QUERY_VALUE, key) == ERROR_SUCCESS;
}

BOOL LoadSettings(AppState *state)
{
    RegKeyGuard guard;
    BOOL machineKey = RegCreateKeyA(HKEY_LOCAL_MACHINE, SETTINGS_KEY, &guard.key) == ERROR_SUCCESS;
    if (machineKey) {
        SetDefaults(state);
        ReadMainValues(guard.key, state);
        guard.Close();
    }
    /* The user's copy, saved where the machine's key could not be written. */
    BOOL userKey = OpenExistingKey(HKEY_CURRENT_USER, SETTINGS_KEY, &guard.key);
    if (userKey) {
        ReadMainValues(guard.key, state);
        guard.Close();
    }
    BOOL hostMissing = (machineKey || userKey) && (state->host == NULL || state->host[0] == '\0');
    if (OpenExistingKey(HKEY_CURRENT_USER, HOSTS_KEY, &guard.key)
        || RegCreateKeyA(HKEY_LOCAL_MACHINE, HOSTS_KEY, &guard.key) == ERROR_SUCCESS) {
        LoadHostList(guard.key, &state->hosts);
        guard.Close();
    }
    return hostMissing;
}

static BOOL WriteMainValues(HKEY key, const AppState *state)
{
    BOOL written = WriteText(key, "host", TextOrEmpty(state->host));
    written &= WriteNumber(key, "attempts", state->attempts);
    written &= WriteNumber(key, "reportOnly", (DWORD)state->reportOnly);
    written &= WriteNumber(key, "autoStart", (DWORD)state->autoStart);
    written &= WriteNumber(key, "autoClose", (DWORD)state->autoClose);
    written &= WriteNumber(key, "sysTray", (DWORD)state->sysTray);
    written &= WriteNumber(key, "quiet", (DWORD)state->quiet);
    written &= WriteNumber(key, "maxAdjust", state->maxAdjust);
    written &= WriteNumber(key, "logOpts", (DWORD)state->logOpts);
    written &= WriteNumber(key, "adjOpt", (DWORD)state->adjOpt);
    written &= WriteText(key, "logPath", TextOrEmpty(state->logPath));
    written &= WriteNumber(key, "timeOut", state->timeOut);
    written &= WriteNumber(key, "protocol", (DWORD)state->protocol);
    return written;
}

static BOOL WriteHostList(HKEY key, const StringList *hosts)
{
    BOOL written = TRUE;
    for (int i = 0; i < hosts->itemCount; i++) {
        char name[32];
        FormatText(name, sizeof name, HOST_VALUE_FORMAT, i);
        written &= WriteText(key, name, hosts->items[i]);
    }
    return written;
}

static BOOL DeleteOldHosts(HKEY settings)
{
    HKEY hosts;
    LONG opened = RegOpenKeyExA(settings, HOSTS_SUBKEY, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &hosts);
    if (opened != ERROR_SUCCESS)
        return opened == ERROR_FILE_NOT_FOUND;
    char name[256];
    DWORD size = sizeof name;
    /* Deleting shifts the rest down: the first value is always the next. */
    LONG result;
    while ((result = RegEnumValueA(hosts, 0, name, &size, NULL, NULL, NULL, NULL)) == ERROR_SUCCESS
           && RegDeleteValueA(hosts, name) == ERROR_SUCCESS)
        size = sizeof name;
    RegCloseKey(hosts);
    return result == ERROR_NO_MORE_ITEMS;
}

/* Every value and the list, under root; true when all of it was written.
   The user's copy always keeps its hosts key, so that an empty list there
   still counts over the machine's. */
static BOOL WriteSettingsUnder(HKEY root, const AppState *state)
{
    RegKeyGuard guard;
    if (RegCreateKeyA(root, SETTINGS_KEY, &guard.key) != ERROR_SUCCESS)
        return FALSE;
    BOOL written = WriteMainValues(guard.key, state);
    /* The old list goes as a whole; an empty list leaves no key.  A key
       that holds a subkey stays: its old entries go one by one. */
    if (RegDeleteKeyA(guard.key, HOSTS_SUBKEY) != ERROR_SUCCESS)
        written &= DeleteOldHosts(guard.key);
    guard.Close();
    if (state->hosts.itemCount > 0 || root == HKEY_CURRENT_USER) {
        if (RegCreateKeyA(root, HOSTS_KEY, &guard.key) != ERROR_SUCCESS)
            return FALSE;
        written &= WriteHostList(guard.key, &state->hosts);
        guard.Close();
    }
    return written;
}

static void DeleteUserCopy(void)
{
    RegDeleteKeyA(HKEY_CURRENT_USER, HOSTS_KEY);
    RegDeleteKeyA(HKEY_CURRENT_USER, SETTINGS_KEY);
}

/* A program without elevation cannot write the machine's key; its user's
   own copy then keeps the settings, and is read over the machine's. */
BOOL SaveSettings(const AppState *state)
{
    if (WriteSettingsUnder(HKEY_LOCAL_MACHINE, state)) {
        DeleteUserCopy();
        return TRUE;
    }
    return WriteSettingsUnder(HKEY_CURRENT_USER, state);
}

void RegisterSoundEvents(void)
{
    static const char *const events[][2] = {
        {"horavexConnect", ",horavex Connect"},
        {"horavexReset", ",horavex Reset"},
        {"horavexMaxAdj", ",horavex Max Adjust"},
    };
    for (const auto &event : events) {
        GetProfileStringA("sounds", event[0], "", textBuffer, TEXT_BUFFER_SIZE - 1);
        if (textBuffer[0] == '\0')
            WriteProfileStringA("sounds", event[0], event[1]);
    }
}

/* The user's copy, where there is one, is read over the machine's key: the
   host goes there too. */
void StoreCommandLineHost(const char *commandLine)
{
    RegKeyGuard guard;
    if (commandLine[0] == '\0')
        return;
    BOOL written = FALSE;
    if (RegCreateKeyA(HKEY_LOCAL_MACHINE, SETTINGS_KEY, &guard.key) == ERROR_SUCCESS) {
        written = WriteText(guard.key, "host", commandLine);
        guard.Close();
    }
    HKEY userKey;
    if (OpenExistingKey(HKEY_CURRENT_USER, SETTINGS_KEY, &userKey)) {
        RegCloseKey(userKey);
        written = FALSE;
    }
    if (!written && RegCreateKeyA(HKEY_CURRENT_USER, SETTINGS_KEY, &guard.key) == ERROR_SUCCESS) {
        WriteText(guard.key, "host", commandLine);
        guard.Close();
    }
}
