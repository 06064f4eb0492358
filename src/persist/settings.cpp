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

/* The registry's own limit on a value's name. */
#define LONGEST_VALUE_NAME 16383

#define DEFAULT_ATTEMPTS 3
#define DEFAULT_AUTO_START 1
#define DEFAULT_MAX_ADJUST 120
#define DEFAULT_SOURCES 1
#define MOST_SOURCES_SETTING 8

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

static BOOL IsTextType(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ;
}

/* A multi-string counts by its first text; a number is no text. */
static BOOL IsTextValueType(DWORD type)
{
    return IsTextType(type) || type == REG_MULTI_SZ;
}

static BOOL ReadText(HKEY key, const char *name, DWORD *type)
{
    return ReadValue(key, name, type) == TEXT_READ && IsTextValueType(*type);
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

/* A stored number: binary data of one to four bytes, zero-extended (most
   significant first for REG_DWORD_BIG_ENDIAN), or a text (a multi-string's
   first) that spells a plain decimal number; fallback for anything else. */
static DWORD ReadNumber(HKEY key, const char *name, DWORD fallback)
{
    BYTE data[TEXT_BUFFER_SIZE];
    DWORD type = REG_NONE;
    DWORD size = sizeof data - 1;
    if (RegQueryValueExA(key, name, NULL, &type, data, &size) != ERROR_SUCCESS || size == 0)
        return fallback;
    DWORD value = 0;
    if (IsTextValueType(type)) {
        data[size] = '\0';
        return ParseDecimal((const char *)data, &value) ? value : fallback;
    }
    if (size > sizeof value)
        return fallback;
    if (type == REG_DWORD_BIG_ENDIAN) {
        for (DWORD i = 0; i < size; i++)
            value = value << 8 | data[i];
        return value;
    }
    memcpy(&value, data, size);
    return value;
}

static BOOL WriteTextOfType(HKEY key, const char *name, const char *text, DWORD type)
{
    return RegSetValueExA(key, name, 0, type, (const BYTE *)text, (DWORD)strlen(text) + 1)
           == ERROR_SUCCESS;
}

static BOOL WriteText(HKEY key, const char *name, const char *text)
{
    return WriteTextOfType(key, name, text, REG_SZ);
}

static BOOL WriteNumber(HKEY key, const char *name, DWORD value)
{
    return RegSetValueExA(key, name, 0, REG_DWORD, (const BYTE *)&value, sizeof value)
           == ERROR_SUCCESS;
}

/* A later setting at its default is written only where the key holds it
   already: a key that never had it stays as it was. */
static BOOL WriteNumberBeyondDefault(HKEY key, const char *name, DWORD value, DWORD fallback)
{
    if (value == fallback
        && RegQueryValueExA(key, name, NULL, NULL, NULL, NULL) == ERROR_FILE_NOT_FOUND)
        return TRUE;
    return WriteNumber(key, name, value);
}

/* What a settings key that holds no values gives. */
static void SetDefaults(AppState *state)
{
    state->host = ReplaceString(state->host, "");
    state->attempts = DEFAULT_ATTEMPTS;
    state->autoStart = DEFAULT_AUTO_START;
    state->maxAdjust = DEFAULT_MAX_ADJUST;
    state->logPath = ReplaceString(state->logPath, "");
    state->logPathExpands = 0;
    state->sources = DEFAULT_SOURCES;
}

static void ReadTextInto(HKEY key, const char *name, char **field, DWORD *type)
{
    if (ReadText(key, name, type))
        *field = ReplaceString(*field, textBuffer);
}

/* Every value that key holds replaces its field; the others stay. */
static void ReadMainValues(HKEY key, AppState *state)
{
    DWORD type = REG_SZ;
    ReadTextInto(key, "host", &state->host, &type);
    state->attempts = ReadNumber(key, "attempts", state->attempts);
    state->reportOnly = (int)ReadNumber(key, "reportOnly", (DWORD)state->reportOnly);
    state->autoStart = (int)ReadNumber(key, "autoStart", (DWORD)state->autoStart);
    state->autoClose = (int)ReadNumber(key, "autoClose", (DWORD)state->autoClose);
    state->sysTray = (int)ReadNumber(key, "sysTray", (DWORD)state->sysTray);
    state->quiet = (int)ReadNumber(key, "quiet", (DWORD)state->quiet);
    state->maxAdjust = ReadNumber(key, "maxAdjust", state->maxAdjust);
    state->logOpts = (int)ReadNumber(key, "logOpts", (DWORD)state->logOpts);
    state->adjOpt = (int)ReadNumber(key, "adjOpt", (DWORD)state->adjOpt);
    if (ReadText(key, "logPath", &type)) {
        state->logPath = ReplaceString(state->logPath, textBuffer);
        state->logPathExpands = type == REG_EXPAND_SZ;
    }
    state->timeOut = ReadNumber(key, "timeOut", state->timeOut);
    state->protocol = (int)ReadNumber(key, "protocol", (DWORD)state->protocol);
    state->sources = (int)ReadNumber(key, "sources", (DWORD)state->sources);
    if (state->sources < 1 || state->sources > MOST_SOURCES_SETTING)
        state->sources = DEFAULT_SOURCES;
}

static BOOL IsListedHost(const char *text)
{
    return text[0] != '\0' && !isspace((unsigned char)text[0]);
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
        if (read == TEXT_READ && IsTextValueType(type) && IsListedHost(textBuffer))
            StringListAdd(hosts, textBuffer);
    }
}

static BOOL OpenExistingKey(HKEY root, const char *path, HKEY *key)
{
    return RegOpenKeyExA(root, path, 0, KEY_QUERY_VALUE, key) == ERROR_SUCCESS;
}

/* The machine's key, made when missing; a standard user may neither make
   nor write it, but still read it where it is. */
static BOOL OpenMachineKey(const char *path, HKEY *key)
{
    return RegCreateKeyA(HKEY_LOCAL_MACHINE, path, key) == ERROR_SUCCESS
           || OpenExistingKey(HKEY_LOCAL_MACHINE, path, key);
}

/* A trust anchor for NTS: only the machine's key may name one, never a
   user's copy. */
static void ReadMachineTrust(HKEY machineKey, AppState *state)
{
    DWORD type = REG_SZ;
    free(state->ntsTrust);
    state->ntsTrust = NULL;
    if (machineKey != NULL && ReadText(machineKey, "ntsTrust", &type) && type != REG_MULTI_SZ)
        state->ntsTrust = strdup(textBuffer);
}

BOOL ReadSettingsFrom(AppState *state, HKEY machineKey, HKEY userKey)
{
    SetDefaults(state);
    if (machineKey != NULL)
        ReadMainValues(machineKey, state);
    if (userKey != NULL)
        ReadMainValues(userKey, state);
    ReadMachineTrust(machineKey, state);
    return state->host == NULL || state->host[0] == '\0';
}

BOOL LoadSettings(AppState *state)
{
    RegKeyGuard machine;
    RegKeyGuard user;
    if (!OpenMachineKey(SETTINGS_KEY, &machine.key))
        machine.key = NULL;
    /* The user's copy, saved where the machine's key could not be written. */
    if (!OpenExistingKey(HKEY_CURRENT_USER, SETTINGS_KEY, &user.key))
        user.key = NULL;
    BOOL hostMissing = ReadSettingsFrom(state, machine.key, user.key);
    machine.Close();
    user.Close();
    if (OpenExistingKey(HKEY_CURRENT_USER, HOSTS_KEY, &user.key)
        || OpenMachineKey(HOSTS_KEY, &user.key)) {
        LoadHostList(user.key, &state->hosts);
        user.Close();
    }
    return hostMissing;
}

BOOL LoadMachineSettings(AppState *state, DWORD *userHosts)
{
    RegKeyGuard guard;
    if (!OpenExistingKey(HKEY_LOCAL_MACHINE, SETTINGS_KEY, &guard.key))
        guard.key = NULL;
    ReadSettingsFrom(state, guard.key, NULL);
    /* Only the machine's key says it: no user's copy may. */
    *userHosts = guard.key != NULL ? ReadNumber(guard.key, "userHosts", 0) : 0;
    guard.Close();
    if (OpenExistingKey(HKEY_LOCAL_MACHINE, HOSTS_KEY, &guard.key)) {
        LoadHostList(guard.key, &state->hosts);
        guard.Close();
    }
    return state->host != NULL;
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
    written &= WriteTextOfType(key, "logPath", TextOrEmpty(state->logPath),
                               state->logPathExpands ? REG_EXPAND_SZ : REG_SZ);
    written &= WriteNumber(key, "timeOut", state->timeOut);
    written &= WriteNumber(key, "protocol", (DWORD)state->protocol);
    written &= WriteNumberBeyondDefault(key, "sources", (DWORD)state->sources, DEFAULT_SOURCES);
    return written;
}

/* True for "host0" ... "host<count - 1>", spelled as they are written. */
static BOOL IsListEntryName(const char *name, int count)
{
    DWORD n = 0;
    if (strncmp(name, "host", 4) != 0 || !ParseDecimal(name + 4, &n) || n >= (DWORD)count)
        return FALSE;
    char written[32];
    FormatText(written, sizeof written, HOST_VALUE_FORMAT, (int)n);
    return strcmp(written, name) == 0;
}

/* Deletes every value but the list's first count entries. */
static BOOL DeleteValuesPast(HKEY hosts, int count)
{
    char *name = (char *)malloc(LONGEST_VALUE_NAME + 1);
    DWORD index = 0;
    LONG result = name != NULL ? ERROR_SUCCESS : ERROR_OUTOFMEMORY;
    while (result == ERROR_SUCCESS) {
        DWORD size = LONGEST_VALUE_NAME + 1;
        result = RegEnumValueA(hosts, index, name, &size, NULL, NULL, NULL, NULL);
        if (result == ERROR_SUCCESS && IsListEntryName(name, count))
            index++;
        else if (result == ERROR_SUCCESS)
            result = RegDeleteValueA(hosts, name);
    }
    free(name);
    return result == ERROR_NO_MORE_ITEMS;
}

/* The new entries over the old ones, then what is past the new end: there
   is never a moment without a list.  An empty list leaves no key, but for
   the user's copy, whose key counts over the machine's even when empty. */
static BOOL WriteHostList(HKEY settings, const StringList *hosts, BOOL keepEmptyKey)
{
    if (hosts->itemCount == 0 && !keepEmptyKey) {
        LONG deleted = RegDeleteKeyA(settings, HOSTS_SUBKEY);
        if (deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND)
            return TRUE;
    }
    RegKeyGuard guard;
    if (RegCreateKeyA(settings, HOSTS_SUBKEY, &guard.key) != ERROR_SUCCESS)
        return FALSE;
    for (int i = 0; i < hosts->itemCount; i++) {
        char name[32];
        FormatText(name, sizeof name, HOST_VALUE_FORMAT, i);
        if (!WriteText(guard.key, name, hosts->items[i]))
            return FALSE;
    }
    return DeleteValuesPast(guard.key, hosts->itemCount);
}

/* Every value and the list, under root; true when all of it was written.
   Nothing is deleted once anything failed. */
static BOOL WriteSettingsUnder(HKEY root, const AppState *state)
{
    RegKeyGuard guard;
    if (RegCreateKeyA(root, SETTINGS_KEY, &guard.key) != ERROR_SUCCESS
        || !WriteMainValues(guard.key, state))
        return FALSE;
    return WriteHostList(guard.key, &state->hosts, root == HKEY_CURRENT_USER);
}

static BOOL DeleteUserCopy(void)
{
    RegDeleteKeyA(HKEY_CURRENT_USER, HOSTS_KEY);
    LONG deleted = RegDeleteKeyA(HKEY_CURRENT_USER, SETTINGS_KEY);
    return deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND;
}

/* A program without elevation cannot write the machine's key; its user's
   own copy then keeps the settings, and is read over the machine's.  A
   copy that cannot be removed would win over the newest set at the next
   start: it holds that set too. */
BOOL SaveSettings(const AppState *state)
{
    if (WriteSettingsUnder(HKEY_LOCAL_MACHINE, state))
        return DeleteUserCopy() || WriteSettingsUnder(HKEY_CURRENT_USER, state);
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
BOOL StoreCommandLineHost(const char *commandLine)
{
    RegKeyGuard guard;
    if (commandLine[0] == '\0')
        return TRUE;
    /* Longer, it would be read back as no host at all. */
    if (strlen(commandLine) > LONGEST_SETTING_TEXT)
        return FALSE;
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
    return TRUE;
}
