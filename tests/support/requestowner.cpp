#include "requestowner.h"

#include <string.h>

#include "base/globals.h"
#include "base/precisetime.h"
#include "base/stringlist.h"
#include "pump.h"
#include "timeclient/request.h"

#define OWNER_CLASS "horavex-test-request-owner"

RequestOwner::RequestOwner()
{
    memset(&reading, 0, sizeof reading);
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = OwnerProc;
    windowClass.cbWndExtra = sizeof(LONG_PTR);
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.lpszClassName = OWNER_CLASS;
    RegisterClassA(&windowClass);
    window = CreateWindowExA(0, OWNER_CLASS, "", WS_POPUP, 0, 0, 0, 0, NULL, NULL,
                             windowClass.hInstance, NULL);
    SetWindowLongPtrA(window, 0, (LONG_PTR)this);
}

RequestOwner::~RequestOwner()
{
    DestroyWindow(window);
}

LRESULT CALLBACK RequestOwner::OwnerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    RequestOwner *owner = (RequestOwner *)GetWindowLongPtrA(window, 0);
    AppState *state = AppStateOf(mainWindow);
    RequestOutcome outcome;
    TimeSample sample;
    memset(&sample, 0, sizeof sample);
    if (owner == NULL || state == NULL)
        return DefWindowProcA(window, message, wParam, lParam);
    if (message == UM_SOCKET)
        OutcomeOfSocketEvent(state, wParam, lParam, &sample, &outcome);
    else if (message == WM_TIMER && wParam == REQUEST_TIMER_ID)
        OutcomeOfRequestTimer(window, state, &outcome);
    else
        return DefWindowProcA(window, message, wParam, lParam);
    if (outcome.kind == OUTCOME_READING) {
        owner->readAt = PreciseSystemTime();
        owner->reading = sample;
    }
    if (outcome.kind == OUTCOME_CALIBRATION)
        ContinueCalibration(window, state, state->sock);
    if (outcome.kind >= OUTCOME_READING)
        EndRequest(state);
    if (outcome.kind != OUTCOME_WAITING && outcome.kind != OUTCOME_NOT_OURS)
        owner->outcomes.push_back(outcome);
    return 0;
}

RequestOutcome RequestOwner::Fetch(const std::string &host, DWORD timeoutMs)
{
    AppState *state = AppStateOf(mainWindow);
    state->host = ReplaceString(state->host, host.c_str());
    size_t before = outcomes.size();
    if (StartRequest(window, state) == 1)
        PumpUntil([&] {
            return outcomes.size() > before && outcomes.back().kind != OUTCOME_CALIBRATION;
        }, timeoutMs);
    RequestOutcome none = {};
    return outcomes.size() > before ? outcomes.back() : none;
}
