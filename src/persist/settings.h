#ifndef HORAVEX_SETTINGS_H
#define HORAVEX_SETTINGS_H

#include "base/appstate.h"

/* Reads every setting and the host list; true when the current host is
   missing or empty, for which the caller shows the warning once the
   record is whole. */
BOOL LoadSettings(AppState *state);
/* Writes every setting and the host list: under HKEY_LOCAL_MACHINE, else
   (no right to write there) under HKEY_CURRENT_USER.  False when neither
   could be written. */
BOOL SaveSettings(const AppState *state);
void RegisterSoundEvents(void);

/* The longest text a setting reads back. */
#define LONGEST_SETTING_TEXT (TEXT_BUFFER_SIZE - 1)

/* Reads the list "host0", "host1", ... of an open hosts key. */
void LoadHostList(HKEY key, StringList *hosts);

/* The defaults, then each value the machine's key holds, then each the
   user's copy holds (either key may be missing: null); true when no host
   came of it. */
BOOL ReadSettingsFrom(AppState *state, HKEY machineKey, HKEY userKey);

/* The machine's settings alone, read without making or writing anything
   (the time service's view): the defaults, then the values of the
   machine's key, its host list, and its userHosts (0 when missing). */
BOOL LoadMachineSettings(AppState *state, DWORD *userHosts);

/* Stores a host given on the command line as the current host; false,
   storing nothing, for one too long to be read back. */
BOOL StoreCommandLineHost(const char *commandLine);

#endif
