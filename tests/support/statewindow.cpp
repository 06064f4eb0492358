#include "statewindow.h"

#include <string.h>

#include "base/globals.h"
#include "base/stringlist.h"
#include "pump.h"
#include "timeclient/request.h"

#define STATE_WINDOW_CLASS "horavex-test-owner"

StateWindow::StateWindow()
{
    memset(&state, 0, sizeof state);
    state.request = NewTimeRequest();
    state.port = 37;
    state.attempts = 3;
    state.autoStart = 1;
    state.maxAdjust = 120;
    state.host = strdup("");
    state.logPath = strdup("");
    state.tzName = strdup("Test Zone");
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.cbWndExtra = sizeof(LONG_PTR);
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.lpszClassName = STATE_WINDOW_CLASS;
    RegisterClassA(&windowClass);
    window = CreateWindowExA(0, STATE_WINDOW_CLASS, "owner", WS_POPUP, 0, 0, 0, 0, NULL, NULL,
                             windowClass.hInstance, NULL);
    SetWindowLongPtrA(window, 0, (LONG_PTR)&state);
    mainWindow = window;
    appInstance = windowClass.hInstance;
    applyingTime[APPLY_MAIN_WINDOW] = applyingTime[APPLY_MAIN_DIALOG] = 0;
}

StateWindow::~StateWindow()
{
    FreeTimeRequest(state.request);
    DestroyWindow(window);
    PumpPending();
    mainWindow = NULL;
    free(state.host);
    free(state.logPath);
    free(state.tzName);
    StringListClear(&state.hosts);
}
