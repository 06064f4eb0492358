#include "persist/settings.h"

#include <ctype.h>
#include <stdlib.h>
#include <string.h>

#include "base/globals.h"
#include "base/serverlist.h"
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

#define EMPTY_HOST_WARNING                                                                  \
    "No NTP servers are currently available.  If you know an NTP server enter the host "   \
    "name for the server in the hosts box.\r\n\r\nIf you don't know of any NTP servers ask " \
    "your local Admin or ISP if they know of a local server that is providing an accurate " \
    "NTP (Network Time Protocol) service (tcp/37).\r\n\r\nAlternatively, see "              \
    SERVER_LIST_URL                                                                          \
    " for a link to a list of NTP time servers.  The previously default sites ("            \
    "tick.usno.navy.mil, tock.usno.navy.mil"                                                \
    ") seem to be closed to external traffic.\r\n"

enum TextRead { TEXT_READ, TEXT_MISSING, TEXT_UNREADABLE };

/* Reads a value into textBuffer, always terminated.  TEXT_UNREADABLE (and
   textBuffer empty) for data that is no terminated text of at most 511
   characters. */
static TextRead ReadValue(HKEY key, const char *name, DWORD *type)
{
    DWORD size = TEXT_BUFFER_SIZE;
    LONG result = RegQueryValueExA(key, name, NULL, type, (BYTE *)textBuffer, &size);
    if (result == ERROR_FILE_NOT_FOUND) {
        textBuffer[0] = '\0';
        return TEXT_MISSING;
    }
    if (result != ERROR_SUCCESS || size > TEXT_BUFFER_SIZE) {
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

static void WriteText(HKEY key, const char *name, const char *text)
{
    RegSetValueExA(key, name, 0, REG_SZ, (const BYTE *)text, (DWORD)strlen(text) + 1);
}

static void WriteNumber(HKEY key, const char *name, DWORD value)
{
    RegSetValueExA(key, name, 0, REG_DWORD, (const BYTE *)&value, sizeof value);
}

void ShowEmptyHostWarning(void)
{
    MessageBoxA(GetDesktopWindow(), EMPTY_HOST_WARNING, "NTP Service", MB_ICONWARNING);
}

static void LoadMainValues(HKEY key, AppState *state)
{
    ReadText(key, "host");
    state->host = strdup(textBuffer);
    state->attempts = ReadNumber(key, "attempts", DEFAULT_ATTEMPTS);
    state->reportOnly = (int)ReadNumber(key, "reportOnly", 0);
    state->autoStart = (int)ReadNumber(key, "autoStart", DEFAULT_AUTO_START);
    state->autoClose = (int)ReadNumber(key, "autoClose", 0);
    state->sysTray = (int)ReadNumber(key, "sysTray", 0);
    state->quiet = (int)ReadNumber(key, "quiet", 0);
    state->maxAdjust = ReadNumber(key, "maxAdjust", DEFAULT_MAX_ADJUST);
    state->logOpts = (int)ReadNumber(key, "logOpts", 0);
    state->adjOpt = (int)ReadNumber(key, "adjOpt", 0);
    ReadText(key, "logPath");
    state->logPath = strdup(textBuffer);
    state->timeOut = ReadNumber(key, "timeOut", 0);
}

static BOOL IsListedHost(const char *text)
{
    return text[0] != '\0' && !isspace((unsigned char)text[0]);
}

/* The list ends at the first missing entry; an entry that cannot be read
   is skipped, so that the entries after it are kept. */
static void LoadHosts(HKEY key, StringList *hosts)
{
    for (int n = 0;; n++) {
        char name[32];
        FormatText(name, sizeof name, HOST_VALUE_FORMAT, n);
        DWORD type = REG_NONE;
        TextRead read = ReadValue(key, name, &type);
        if (read == TEXT_MISSING)
            break;
        if (read == TEXT_READ && IsTextType(type) && IsListedHost(textBuffer))
            StringListAdd(hosts, textBuffer);
    }
}

BOOL LoadSettings(AppState *state)
{
    RegKeyGuard guard;
    BOOL hostMissing = FALSE;
    if (RegCreateKeyA(HKEY_LOCAL_MACHINE, SETTINGS_KEY, &guard.key) == ERROR_SUCCESS) {
        LoadMainValues(guard.key, state);
        hostMissing = state->host == NULL || state->host[0] == '\0';
        guard.Close();
    }
    if (RegCreateKeyA(HKEY_LOCAL_MACHINE, HOSTS_KEY, &guard.key) == ERROR_SUCCESS) {
        LoadHosts(guard.key, &state->hosts);
        guard.Close();
    }
    return hostMissing;
}

static void SaveMainValues(HKEY key, const AppState *state)
{
    WriteText(key, "host", TextOrEmpty(state->host));
    WriteNumber(key, "attempts", state->attempts);
    WriteNumber(key, "reportOnly", (DWORD)state->reportOnly);
    WriteNumber(key, "autoStart", (DWORD)state->autoStart);
    WriteNumber(key, "autoClose", (DWORD)state->autoClose);
    WriteNumber(key, "sysTray", (DWORD)state->sysTray);
    WriteNumber(key, "quiet", (DWORD)state->quiet);
    WriteNumber(key, "maxAdjust", state->maxAdjust);
    WriteNumber(key, "logOpts", (DWORD)state->logOpts);
    WriteNumber(key, "adjOpt", (DWORD)state->adjOpt);
    WriteText(key, "logPath", TextOrEmpty(state->logPath));
    WriteNumber(key, "timeOut", state->timeOut);
}

static void SaveHosts(HKEY key, const StringList *hosts)
{
    for (int i = 0; i < hosts->itemCount; i++) {
        char name[32];
        FormatText(name, sizeof name, HOST_VALUE_FORMAT, i);
        WriteText(key, name, hosts->items[i]);
    }
}

static void DeleteOldHosts(HKEY settings)
{
    HKEY hosts;
    if (RegOpenKeyExA(settings, HOSTS_SUBKEY, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &hosts)
        != ERROR_SUCCESS)
        return;
    char name[256];
    DWORD size = sizeof name;
    /* Deleting shifts the rest down: the first value is always the next. */
    while (RegEnumValueA(hosts, 0, name, &size, NULL, NULL, NULL, NULL) == ERROR_SUCCESS
           && RegDeleteValueA(hosts, name) == ERROR_SUCCESS)
        size = sizeof name;
    RegCloseKey(hosts);
}

void SaveSettings(const AppState *state)
{
    RegKeyGuard guard;
    if (RegCreateKeyA(HKEY_LOCAL_MACHINE, SETTINGS_KEY, &guard.key) == ERROR_SUCCESS) {
        SaveMainValues(guard.key, state);
        /* The old list goes as a whole; an empty list leaves no key.  A key
           that holds a subkey stays: its old entries go one by one. */
        if (RegDeleteKeyA(guard.key, HOSTS_SUBKEY) != ERROR_SUCCESS)
            DeleteOldHosts(guard.key);
        guard.Close();
    }
    if (state->hosts.itemCount > 0
        && RegCreateKeyA(HKEY_LOCAL_MACHINE, HOSTS_KEY, &guard.key) == ERROR_SUCCESS) {
        SaveHosts(guard.key, &state->hosts);
        guard.Close();
    }
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

void StoreCommandLineHost(const char *commandLine)
{
    RegKeyGuard guard;
    if (commandLine[0] == '\0')
        return;
    if (RegCreateKeyA(HKEY_LOCAL_MACHINE, SETTINGS_KEY, &guard.key) == ERROR_SUCCESS) {
        WriteText(guard.key, "host", commandLine);
        guard.Close();
    }
}
