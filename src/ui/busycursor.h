#ifndef HORAVEX_BUSYCURSOR_H
#define HORAVEX_BUSYCURSOR_H

#include "base/appstate.h"

/* The lightning bolt, shown at once and over the main dialog while a
   request of either window runs. */
void ShowBusyCursor(AppState *state);
void ReleaseBusyCursor(AppState *state);

#endif
