#include "app/mainwnd.h"

#include <stdlib.h>
#include <string.h>

#include "base/appstate.h"
#include "base/fetchtimer.h"
#include "base/globals.h"
#include "base/helpfile.h"
#include "base/serverlist.h"
#include "base/stringlist.h"
#include "base/textfmt.h"
#include "persist/settings.h"
#include "resource.h"
#include "timeclient/outcome.h"
#include "timeclient/request.h"
#include "timeclient/timesample.h"
#include "ui/about.h"
#include "ui/flyout.h"
#include "ui/maindlg.h"
#include "ui/tray.h"

static UINT taskbarCreated;
/* The quiet start without the tray ends the program itself. */
static BOOL endingByItself;

static void ReadTimeZoneName(void)
{
    TIME_ZONE_INFORMATION zone;
    DWORD zoneId = GetTimeZoneInformation(&zone);
    textBuffer[0] = '\0';
    if (zoneId == TIME_ZONE_ID_INVALID)
        return;
    const WCHAR *name = zoneId == TIME_ZONE_ID_DAYLIGHT ? zone.DaylightName : zone.StandardName;
    int length = 0;
    while (length < (int)ARRAYSIZE(zone.StandardName) && name[length] != L'\0')
        length++;
    int written = WideCharToMultiByte(CP_ACP, 0, name, length, textBuffer,
                                      TEXT_BUFFER_SIZE - 1, NULL, NULL);
    textBuffer[written > 0 ? written : 0] = '\0';
}

static void StartFetchTimer(HWND window, AppState *state)
{
    if (state->timeOut == 0)
        return;
    if (SetTimer(window, FETCH_TIMER_ID, FetchPeriod(state->timeOut), NULL) == 0)
        state->timeOut = 0;
}

static LRESULT OnCreate(HWND window)
{
    mainWindow = window;
    AppState *state = (AppState *)calloc(1, sizeof *state);
    if (state == NULL)
        return -1;
    state->sock = INVALID_SOCKET;
    ReadTimeZoneName();
    state->tzName = strdup(textBuffer);
    BOOL hostMissing = LoadSettings(state);
    /* Only a whole record is attached: the end of the program (which saves
       it) can come during the warning box below. */
    SetWindowLongPtrA(window, 0, (LONG_PTR)state);
    RegisterSoundEvents();
    state->port = TIME_PORT;
    BuildTrayMenu();
    /* Answered before anything fetches or opens the dialog.  Its loop may
       end the program and release the record. */
    if (hostMissing) {
        ShowEmptyHostWarning();
        state = AppStateOf(window);
        if (state == NULL)
            return 0;
    }
    StartFetchTimer(window, state);
    PostMessageA(window, WM_TIMER, 0, 0);
    return 0;
}

static void OnOpenDialog(HWND window, WPARAM startFetch)
{
    if (dialogOpen || AppStateOf(window) == NULL)
        return;
    dialogOpen = 1;
    DialogBoxParamA(appInstance, MAKEINTRESOURCEA(IDD_MAIN), window, MainDlgProc,
                    (LPARAM)startFetch);
    dialogOpen = 0;
    /* The dialog's loop may have ended the program meanwhile. */
    AppState *state = AppStateOf(window);
    if (state != NULL && !state->sysTray)
        SendMessageA(window, WM_CLOSE, 0, 0);
}

static void StartQuietRequest(HWND window, AppState *state)
{
    /* With the main dialog open, a request still running is one the user
       can see and stop there: leave it be.  Otherwise it is a leftover
       that never got its answer, and the new request replaces it. */
    if (state->sock != INVALID_SOCKET && dialogOpen)
        return;
    StartRequest(window, state);
}

static void OnFetchTick(HWND window)
{
    AppState *state = AppStateOf(window);
    if (state == NULL)
        return;
    if (!state->quiet) {
        OnOpenDialog(window, (WPARAM)state->autoStart);
        return;
    }
    StartQuietRequest(window, state);
    state = AppStateOf(window);
    if (state != NULL && !state->sysTray) {
        /* Quiet without the tray ends at once, and stays resident next time. */
        state->sysTray = 1;
        endingByItself = TRUE;
        SendMessageA(window, WM_CLOSE, 0, 0);
    }
}

/* In the title, and for three seconds in the flyout.  The Time protocol's
   failed connection keeps its text as it always read. */
static void ShowFailure(HWND window, AppState *state, const RequestOutcome *outcome)
{
    FormatText(textBuffer, sizeof textBuffer, "%s - Try another host (see " SERVER_LIST_URL "%s",
               outcome->report,
               outcome->connectionFailed ? " fora link to a list of alternative sites)"
                                         : " for a link to a list of alternative sites)");
    SetWindowTextA(window, textBuffer);
    ShowFlyout(window);
    EndRequest(state);
}

static void ShowQuietReading(HWND window, TimeSample *sample)
{
    FormatTimeOfDay(sample, textBuffer, TEXT_BUFFER_SIZE);
    SetWindowTextA(window, textBuffer);
    ShowFlyout(window);
}

static void TakeQuietReading(HWND window, AppState *state, TimeSample *sample)
{
    SOCKET readSocket = state->sock;
    ApplyTime(window, sample, state);
    /* Its boxes' loops may have ended the program, whose clean-up then
       closed the socket, or started a newer request that closed it. */
    state = AppStateOf(window);
    if (state == NULL)
        return;
    ShowQuietReading(window, sample);
    if (state->sock == readSocket)
        EndRequest(state);
}

static void OnRequestOutcome(HWND window, AppState *state, TimeSample *sample,
                             const RequestOutcome *outcome)
{
    switch (outcome->kind) {
    case OUTCOME_CALIBRATION:
        ContinueCalibration(window, state, state->sock);
        break;
    case OUTCOME_READING:
        TakeQuietReading(window, state, sample);
        break;
    case OUTCOME_NO_READING:
        EndRequest(state);
        break;
    case OUTCOME_FAILED:
        ShowFailure(window, state, outcome);
        break;
    default:
        break;
    }
}

static void OnSocket(HWND window, WPARAM wParam, LPARAM lParam)
{
    AppState *state = AppStateOf(window);
    if (state == NULL)
        return;
    TimeSample sample;
    RequestOutcome outcome;
    OutcomeOfSocketEvent(state, wParam, lParam, &sample, &outcome);
    OnRequestOutcome(window, state, &sample, &outcome);
}

static void OnRequestTimer(HWND window)
{
    AppState *state = AppStateOf(window);
    if (state == NULL)
        return;
    TimeSample sample;
    memset(&sample, 0, sizeof sample);
    RequestOutcome outcome;
    OutcomeOfRequestTimer(window, state, &outcome);
    OnRequestOutcome(window, state, &sample, &outcome);
}

static void OnMenuCommand(HWND window, WORD command)
{
    switch (command) {
    case IDM_GETTIME:
        SendMessageA(window, UM_OPENDIALOG, 1, 0);
        break;
    case IDM_ABOUT:
        ShowAboutBox(window);
        break;
    case IDM_HELP: {
        char path[MAX_PATH];
        WinHelpA(window, HelpFilePath(path, sizeof path), HELP_FINDER, 0);
        break;
    }
    case IDM_EXIT:
        SendMessageA(window, WM_CLOSE, 0, 0);
        break;
    case IDM_PROPERTIES:
        SendMessageA(window, UM_OPENDIALOG, 0, 0);
        break;
    }
}

/* A new shell (after the old one ended) shows only the icons that are
   added again. */
static void OnTaskbarCreated(HWND window)
{
    const AppState *state = AppStateOf(window);
    if (state != NULL && state->sysTray)
        ShowTrayIcon(window);
}

/* True unless the settings could be written nowhere. */
static BOOL ReleaseAppState(HWND window)
{
    AppState *state = AppStateOf(window);
    if (state == NULL)
        return TRUE;
    /* From here on, messages still dispatched find no record. */
    SetWindowLongPtrA(window, 0, 0);
    free(state->tzName);
    state->tzName = NULL;
    if (state->sock != INVALID_SOCKET) {
        closesocket(state->sock);
        state->sock = INVALID_SOCKET;
    }
    BOOL saved = SaveSettings(state);
    if (state->sysTray)
        RemoveTrayIcon(window, TRAY_ICON_ID);
    free(state->host);
    state->host = NULL;
    free(state->logPath);
    state->logPath = NULL;
    StringListClear(&state->hosts);
    free(state);
    return saved;
}

/* Said at an end the user asked for: not when Windows ends, nor when a
   quiet start ends by itself. */
static void OnDestroy(HWND window)
{
    if (!ReleaseAppState(window) && !endingByItself)
        MessageBoxA(NULL, "Error writing settings to the registry", "horavex Error", MB_OK);
    PostQuitMessage(0);
}

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        return OnCreate(window);
    case WM_TIMER:
        if (wParam == REQUEST_TIMER_ID)
            OnRequestTimer(window);
        else
            OnFetchTick(window);
        return 0;
    case UM_OPENDIALOG:
        OnOpenDialog(window, wParam);
        return 0;
    case UM_SOCKET:
        OnSocket(window, wParam, lParam);
        return 1;
    case WM_COMMAND:
        if (HIWORD(wParam) == 0)
            OnMenuCommand(window, LOWORD(wParam));
        return 0;
    case WM_CONTEXTMENU:
        ShowTrayMenu(window, lParam);
        return 0;
    case UM_TRAY:
        OnTrayNotify(window, wParam, lParam);
        return 0;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_CLOSE)
            break;
        return 0;
    case WM_QUERYENDSESSION:
        return TRUE;
    case WM_ENDSESSION:
        if (!wParam)
            break;
        ReleaseAppState(window);
        PostQuitMessage(0);
        return 0;
    case WM_DESTROY:
        OnDestroy(window);
        return 0;
    }
    if (message == taskbarCreated && taskbarCreated != 0) {
        OnTaskbarCreated(window);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

BOOL RegisterMainWindowClass(HINSTANCE instance)
{
    taskbarCreated = RegisterWindowMessageA("TaskbarCreated");
    WNDCLASSA windowClass;
    memset(&windowClass, 0, sizeof windowClass);
    windowClass.lpfnWndProc = MainWndProc;
    windowClass.cbWndExtra = sizeof(LONG_PTR);
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_PROGRAM));
    windowClass.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
    windowClass.hbrBackground = (HBRUSH)GetStockObject(LTGRAY_BRUSH);
    windowClass.lpszClassName = MAIN_WINDOW_CLASS;
    return RegisterClassA(&windowClass) != 0;
}

HWND CreateMainWindow(HINSTANCE instance)
{
    return CreateWindowExA(0, MAIN_WINDOW_CLASS, MAIN_WINDOW_TITLE, WS_POPUP, 0, 0, 0, 0,
                           NULL, NULL, instance, NULL);
}
