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

/* Reads a text value into textBuffer; false, with textBuffer empty, when
   it is missing or holds no terminated text of at most 511 characters. */
static BOOL ReadText(HKEY key, const char *name)
{
    DWORD size = TEXT_BUFFER_SIZE;
    LONG result = RegQueryValueExA(key, name, NULL, NULL, (BYTE *)textBuffer, &size);
    if (result != ERROR_SUCCESS || size > TEXT_BUFFER_SIZE) {
        textBuffer[0] = '\0';
        return FALSE;
    }
    if (size == 0 || textBuffer[size - 1] == '\0')
        textBuffer[size == 0 ? 0 : size - 1] = '\0';
    else if (size < TEXT_BUFFER_SIZE)
        textBuffer[size] = '\0';
    else {
        /* 512 characters without a terminator: too long, like 512 with one. */
        textBuffer[0] = '\0';
        return FALSE;
    }
    return TRUE;
}

/* A stored number of up to 4 bytes, zero-extended; fallback otherwise. */
static DWORD ReadNumber(HKEY key, const char *name, DWORD fallback)
{
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegQueryValueExA(key, name, NULL, NULL, (BYTE *)&value, &size) != ERROR_SUCCESS)
        return fallback;
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

static void ShowEmptyHostWarning(void)
{
    MessageBoxA(GetDesktopWindow(), EMPTY_HOST_WARNING, "NTP Service", MB_ICONWARNING);
}

static void LoadMainValues(HKEY key, AppState *state)
{
    ReadText(key, "host");
    state->host = strdup(textBuffer);
    if (textBuffer[0] == '\0')
        ShowEmptyHostWarning();
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

static void LoadHosts(HKEY key, StringList *hosts)
{
    for (int n = 0;; n++) {
        char name[32];
        FormatText(name, sizeof name, HOST_VALUE_FORMAT, n);
        if (!ReadText(key, name))
            break;
        if (IsListedHost(textBuffer))
            StringListAdd(hosts, textBuffer);
    }
}

void LoadSettings(AppState *state)
{
    RegKeyGuard guard;
    if (RegCreateKeyA(HKEY_LOCAL_MACHINE, SETTINGS_KEY, &guard.key) == ERROR_SUCCESS) {
        LoadMainValues(guard.key, state);
        guard.Close();
    }
    if (RegCreateKeyA(HKEY_LOCAL_MACHINE, HOSTS_KEY, &guard.key) == ERROR_SUCCESS) {
        LoadHosts(guard.key, &state->hosts);
        guard.Close();
    }
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

void SaveSettings(const AppState *state)
{
    RegKeyGuard guard;
    if (RegCreateKeyA(HKEY_LOCAL_MACHINE, SETTINGS_KEY, &guard.key) == ERROR_SUCCESS) {
        SaveMainValues(guard.key, state);
        /* The old list goes as a whole; an empty list leaves no key. */
        RegDeleteKeyA(guard.key, HOSTS_SUBKEY);
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
