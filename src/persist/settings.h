#ifndef HORAVEX_SETTINGS_H
#define HORAVEX_SETTINGS_H

#include "base/appstate.h"

void LoadSettings(AppState *state);
void SaveSettings(const AppState *state);
void RegisterSoundEvents(void);

/* Stores a host given on the command line as the current host. */
void StoreCommandLineHost(const char *commandLine);

#endif
