#include "ui/busycursor.h"

#include "base/globals.h"
#include "resource.h"

void ShowBusyCursor(AppState *state)
{
    state->busyCursor = LoadCursorA(appInstance, MAKEINTRESOURCEA(IDCUR_BUSY));
    SetCursor(state->busyCursor);
}

void ReleaseBusyCursor(AppState *state)
{
    DestroyCursor(state->busyCursor);
    state->busyCursor = NULL;
}
