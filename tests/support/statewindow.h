#ifndef HORAVEX_TEST_STATEWINDOW_H
#define HORAVEX_TEST_STATEWINDOW_H

#include <windows.h>

#include "base/appstate.h"

/* A plain window that stands in for the main window: its window data is
   a record of the test's own, and it is mainWindow while it lives. */
class StateWindow {
public:
    StateWindow();
    ~StateWindow();
    StateWindow(const StateWindow &) = delete;
    StateWindow &operator=(const StateWindow &) = delete;

    HWND window = NULL;
    AppState state;
};

#endif
