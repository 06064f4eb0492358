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
    if (owner == NULL || state == NULL)
        return DefWindowProcA(window, message, wParam, lParam);
    RequestOutcome outcome;
    if (OnRequestMessage(state->request, window, message, wParam, lParam, &outcome)
        == OUTCOME_NOT_OURS)
        return DefWindowProcA(window, message, wParam, lParam);
    owner->Keep(outcome);
    return 0;
}

void RequestOwner::Keep(const RequestOutcome &outcome)
{
    if (outcome.kind == OUTCOME_READING) {
        readAt = PreciseSystemTime();
        reading = outcome.sample;
    }
    if (outcome.kind > OUTCOME_WAITING)
        outcomes.push_back(outcome);
}

RequestOutcome RequestOwner::Fetch(const std::string &host, DWORD timeoutMs)
{
    AppState *state = AppStateOf(mainWindow);
    state->host = ReplaceString(state->host, host.c_str());
    size_t before = outcomes.size();
    RequestOutcome started;
    if (StartRequest(window, state, &started) == 1)
        PumpUntil([&] {
            return outcomes.size() > before && outcomes.back().kind != OUTCOME_CALIBRATION;
        }, timeoutMs);
    else
        Keep(started);
    RequestOutcome none = {};
    return outcomes.size() > before ? outcomes.back() : none;
}

ServerManners *MannersOfNtpServer(const std::string &address)
{
    SOCKADDR_STORAGE server = {};
    SOCKADDR_IN *ipv4 = (SOCKADDR_IN *)&server;
    ipv4->sin_family = AF_INET;
    ipv4->sin_port = htons(123);
    ipv4->sin_addr.s_addr = inet_addr(address.c_str());
    return MannersOfAddress(&server);
}
