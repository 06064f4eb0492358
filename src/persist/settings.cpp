#include "persist/settings.h"

#include <string.h>

/* The registry comes later: every start has the defaults and no host. */
void LoadSettings(AppState *state)
{
    state->host = strdup("");
    state->attempts = 3;
    state->autoStart = 1;
    state->maxAdjust = 120;
    state->logPath = strdup("");
}

void SaveSettings(const AppState *state)
{
    (void)state;
}

void RegisterSoundEvents(void)
{
}

void StoreCommandLineHost(const char *commandLine)
{
    (void)commandLine;
}
