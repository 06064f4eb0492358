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
#include "timeclient/clock.h"
#include "timeclient/request.h"
#include "timeclient/timeproto.h"
#include "ui/about.h"
#include "ui/agreement.h"
#include "ui/applytime.h"
#include "ui/busycursor.h"
#include "ui/flyout.h"
#include "ui/maindlg.h"
#include "ui/tray.h"
#include "ui/winsockbox.h"

#define EMPTY_HOST_WARNING                                                                  \
    "No NTP servers are currently available.  If you know an NTP server enter the host "   \
    "name for the server in the hosts box.\r\n\r\nIf you don't know of any NTP servers ask " \
    "your local Admin or ISP if they know of a local server that is providing an accurate " \
    "NTP (Network Time Protocol) service (tcp/37).\r\n\r\nAlternatively, see "              \
    SERVER_LIST_URL                                                                          \
    " for a link to a list of NTP time servers.  The previously default sites ("            \
    "tick.usno.navy.mil, tock.usno.navy.mil"                                                \
    ") seem to be closed to external traffic.\r\n"

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

static void ShowEmptyHostWarning(void)
{
    MessageBoxA(GetDesktopWindow(), EMPTY_HOST_WARNING, "NTP Service", MB_ICONWARNING);
}

static LRESULT OnCreate(HWND window)
{
    mainWindow = window;
    AppState *state = (AppState *)calloc(1, sizeof *state);
    if (state == NULL)
        return -1;
    state->request = NewTimeRequest();
    if (state->request == NULL) {
        free(state);
        return -1;
    }
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

/* A held host is skipped without a word; a Windows Sockets step that
   failed has its box.  The rest shows in the title, and for three seconds
   in the flyout; the Time protocol's failed connection keeps its text as
   it always read. */
static void ShowQuietFailure(HWND window, const RequestOutcome *outcome)
{
    if (outcome->failure == FAILURE_HELD)
        return;
    if (outcome->failure == FAILURE_SOCKET) {
        ReportSocketFailure(outcome->report, outcome->socketError);
        return;
    }
    FormatText(textBuffer, sizeof textBuffer, "%s - Try another host (see " SERVER_LIST_URL "%s",
               outcome->report,
               outcome->failure == FAILURE_CONNECTION
                   ? " fora link to a list of alternative sites)"
                   : " for a link to a list of alternative sites)");
    SetWindowTextA(window, textBuffer);
    ShowFlyout(window);
}

static void TakeQuietReading(HWND window, TimeSample *sample)
{
    AppState *state = AppStateOf(window);
    int applied = ApplyTime(window, sample, state);
    /* Its boxes' loops may have ended the program; the service's new
       reading after "Big Change" comes as an outcome of its own. */
    if (AppStateOf(window) == NULL || applied == APPLY_ASKED_AGAIN)
        return;
    FormatTimeOfDay(sample, textBuffer, TEXT_BUFFER_SIZE);
    size_t length = strlen(textBuffer);
    FormatAgreementInShort(sample, textBuffer + length, sizeof textBuffer - length);
    SetWindowTextA(window, textBuffer);
    ShowFlyout(window);
}

/* The request has ended before anything here is shown. */
static void OnRequestOutcome(HWND window, RequestOutcome *outcome)
{
    if (outcome->kind == OUTCOME_READING)
        TakeQuietReading(window, &outcome->sample);
    else if (outcome->kind == OUTCOME_FAILED)
        ShowQuietFailure(window, outcome);
}

static void StartQuietRequest(HWND window, AppState *state)
{
    /* With the main dialog open, a request still running is one the user
       can see and stop there: leave it be.  Otherwise it is a leftover
       that never got its answer, and the new request replaces it. */
    if (RequestRunning(state->request) && dialogOpen)
        return;
    RequestOutcome outcome;
    if (StartRequest(window, state, &outcome))
        ShowBusyCursor(state);
    else
        OnRequestOutcome(window, &outcome);
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

/* UM_SOCKET, UM_JOBDONE, and the request's own timer. */
static void OnRequestMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    AppState *state = AppStateOf(window);
    RequestOutcome outcome;
    if (state == NULL)
        return;
    OnRequestMessage(state->request, window, message, wParam, lParam, &outcome);
    OnRequestOutcome(window, &outcome);
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
    FreeTimeRequest(state->request);
    state->request = NULL;
    KeepOpenDialogHosts(state);
    BOOL saved = SaveSettings(state);
    if (state->sysTray)
        RemoveTrayIcon(window, TRAY_ICON_ID);
    free(state->host);
    state->host = NULL;
    free(state->logPath);
    state->logPath = NULL;
    free(state->ntsTrust);
    state->ntsTrust = NULL;
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
            OnRequestMessage(window, message, wParam, lParam);
        else
            OnFetchTick(window);
        return 0;
    case UM_OPENDIALOG:
        OnOpenDialog(window, wParam);
        return 0;
    case UM_SOCKET:
    case UM_JOBDONE:
        OnRequestMessage(window, message, wParam, lParam);
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
