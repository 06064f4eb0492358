#include "mainwindow.h"

#include "base/globals.h"
#include "app/mainwnd.h"
#include "base/stringlist.h"
#include "pump.h"
#include "timeclient/request.h"
#include "ui/flyout.h"
#include "ui/maindlg.h"
#include "windowhelpers.h"

void MainWindowTest::SetUp()
{
    settings_ = std::make_unique<RegistrySnapshot>(HKEY_LOCAL_MACHINE, VENDOR_KEY);
    userSettings_ = std::make_unique<RegistrySnapshot>(HKEY_CURRENT_USER, VENDOR_KEY);
    sounds_ = std::make_unique<SoundsSnapshot>();
    DeleteKeyTree(HKEY_LOCAL_MACHINE, VENDOR_KEY);
    DeleteKeyTree(HKEY_CURRENT_USER, VENDOR_KEY);
    /* A stored host keeps the empty-host warning away; nothing listens there. */
    SetRegString(HKEY_LOCAL_MACHINE, SETTINGS_KEY, "host", "127.0.0.1");
    appInstance = GetModuleHandleA(NULL);
    RegisterMainWindowClass(appInstance);
    RegisterFlyoutClass(appInstance);
    dialogOpen = 0;
    firstDialog = 1;
    applyingTime[APPLY_MAIN_WINDOW] = applyingTime[APPLY_MAIN_DIALOG] = 0;
}

void MainWindowTest::TearDown()
{
    if (window_ != NULL && IsWindow(window_))
        DestroyWindow(window_);
    PumpPending();
    mainWindow = NULL;
    dialogOpen = 0;
    sounds_.reset();
    userSettings_.reset();
    settings_.reset();
}

void MainWindowTest::Create()
{
    window_ = CreateMainWindow(appInstance);
    ASSERT_NE(window_, (HWND)NULL);
}

void MainWindowTest::DropFirstTick()
{
    MSG message;
    while (PeekMessageA(&message, window_, WM_TIMER, WM_TIMER, PM_REMOVE)) {
    }
}

void MainWindowTest::MakeQuiet(const std::string &host)
{
    AppState *state = State();
    state->quiet = 1;
    state->sysTray = 1;
    state->host = ReplaceString(state->host, host.c_str());
}

std::string MainWindowTest::Title() const
{
    return WindowText(window_);
}

bool MainWindowTest::WaitForTitleChange(DWORD timeoutMs)
{
    return PumpUntil([&] { return Title() != MAIN_WINDOW_TITLE; }, timeoutMs);
}

bool MainWindowTest::WaitForRest(DWORD timeoutMs)
{
    return PumpUntil([&] {
        const AppState *state = State();
        return state != NULL && !RequestRunning(state->request);
    }, timeoutMs);
}
