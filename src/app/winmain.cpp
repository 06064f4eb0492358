#include <windows.h>
#include <commctrl.h>
#include <winsock2.h>

#include "base/appstate.h"
#include "base/globals.h"
#include "app/mainwnd.h"
#include "persist/settings.h"
#include "resource.h"
#include "timeclient/ntsjar.h"
#include "ui/flyout.h"
#include "ui/tray.h"

#define INSTANCE_MUTEX "qvx-horavex-instance"

/* The window test alone lets starts at the same moment all pass: each
   looks before any has made its window.  The mutex is made first, and
   held until the process ends. */
static HANDLE ClaimSingleInstance(void)
{
    HANDLE mutex = CreateMutexA(NULL, FALSE, INSTANCE_MUTEX);
    if (mutex != NULL && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return NULL;
    }
    return mutex != NULL ? mutex : INVALID_HANDLE_VALUE;
}

static BOOL AnotherInstanceRuns(HINSTANCE previous)
{
    return previous != NULL || FindWindowA(MAIN_WINDOW_CLASS, NULL) != NULL;
}

static int RunInstance(HINSTANCE instance, LPSTR commandLine);

/* Before the main window: the loop of its empty-host warning can already
   run a request.  Version 2.2: names resolve to IPv6 and IPv4 addresses. */
static BOOL StartWinsock(void)
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        MessageBoxA(NULL, "Could not find winsock.dll!", "Winsock Error", MB_OK);
        return FALSE;
    }
    if (LOBYTE(data.wVersion) != 2 || HIBYTE(data.wVersion) != 2) {
        WSACleanup();
        MessageBoxA(NULL, "Wrong winsock version", "Winsock Error", MB_OK);
        return FALSE;
    }
    return TRUE;
}

static void ShowStartupTrayIcon(HWND window)
{
    const AppState *state = AppStateOf(window);
    if (state != NULL && state->sysTray)
        ShowTrayIcon(window);
}

static int RunMessageLoop(void)
{
    MSG message;
    message.wParam = 0;
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return (int)message.wParam;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand)
{
    (void)showCommand;
    HANDLE instanceMutex = ClaimSingleInstance();
    if (instanceMutex == NULL)
        return 0;
    int exitCode = AnotherInstanceRuns(previous) ? 0 : RunInstance(instance, commandLine);
    if (instanceMutex != INVALID_HANDLE_VALUE)
        CloseHandle(instanceMutex);
    return exitCode;
}

static int RunInstance(HINSTANCE instance, LPSTR commandLine)
{
    /* With the manifest's common controls, the dialogs' controls come from
       their library: it is loaded before the first dialog. */
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    if (!RegisterMainWindowClass(instance)) {
        MessageBoxA(NULL, "Unable to register horavex class!", "Windows Error", MB_OK);
        return 0;
    }
    if (!RegisterFlyoutClass(instance)) {
        MessageBoxA(NULL, "Unable to register flyout class!", "Windows Error", MB_OK);
        return 0;
    }
    appInstance = instance;
    /* The start goes on with the host stored before. */
    if (!StoreCommandLineHost(commandLine))
        MessageBoxA(NULL, "The host name on the command line is too long (more than 511 "
                          "characters): it was not stored",
                    "horavex Error", MB_OK);
    if (!StartWinsock())
        return 0;
    HWND window = CreateMainWindow(instance);
    if (window == NULL) {
        WSACleanup();
        return 0;
    }
    ShowStartupTrayIcon(window);
    int exitCode = RunMessageLoop();
    ForgetNtsServers();
    WSACleanup();
    return exitCode;
}
