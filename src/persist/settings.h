#ifndef HORAVEX_SETTINGS_H
#define HORAVEX_SETTINGS_H

#include "base/appstate.h"

/* Reads every setting and the host list; true when the current host is
   missing or empty, for which the caller shows the warning once the
   record is whole. */
BOOL LoadSettings(AppState *state);
void ShowEmptyHostWarning(void);
void SaveSettings(const AppState *state);
void RegisterSoundEvents(void);

/* Stores a host given on the command line as the current host. */
void StoreCommandLineHost(const char *commandLine);

#endif
