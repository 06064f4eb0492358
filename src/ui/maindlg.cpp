#include "ui/maindlg.h"

#include <ctype.h>
#include <string.h>

#include "base/appstate.h"
#include "base/globals.h"
#include "base/helpfile.h"
#include "base/precisetime.h"
#include "base/serverlist.h"
#include "base/stringlist.h"
#include "base/textfmt.h"
#include "resource.h"
#include "timeclient/clock.h"
#include "timeclient/request.h"
#include "ui/about.h"
#include "ui/advanced.h"
#include "ui/agreement.h"
#include "ui/applytime.h"
#include "ui/busycursor.h"
#include "ui/tray.h"
#include "ui/winsockbox.h"

#define AUTO_CLOSE_TIMER_ID 100
#define AUTO_CLOSE_MS 5000
#define CLOCK_TIMER_ID 101
#define CLOCK_MS 1000
#define MODULE_NAME_SIZE MAX_PATH
#define NO_DATE "--"

int dialogOpen;
int firstDialog = 1;
char startupLinkPath[STARTUP_LINK_PATH_SIZE];

/* The host box entry last put into its field.  Typing clears the list's
   own selection before the dialog hears of the edit, so this is the entry
   that an emptied field removes. */
static LRESULT shownHost = CB_ERR;

/* The main dialog while it is open: the end of the Windows session saves
   the settings without destroying it. */
static HWND openDialog;

static void SetField(HWND dialog, int id, const char *text)
{
    SetDlgItemTextA(dialog, id, text);
}

static void ClearResultFields(HWND dialog)
{
    SetField(dialog, IDC_MAIN_TIME, "");
    SetField(dialog, IDC_MAIN_DIFF, "");
    SetField(dialog, IDC_MAIN_LAG, "");
    SetField(dialog, IDC_MAIN_SOURCES, "");
}

static void ShowRequestRunning(HWND dialog)
{
    SetDlgItemTextA(dialog, IDC_MAIN_GETTIME, "Stop!");
    EnableWindow(GetDlgItem(dialog, IDC_MAIN_CLOSE), FALSE);
}

void ResetRequestControls(HWND dialog, AppState *state)
{
    SetDlgItemTextA(dialog, IDC_MAIN_GETTIME, "&Get time");
    EnableWindow(GetDlgItem(dialog, IDC_MAIN_CLOSE), TRUE);
    ReleaseBusyCursor(state);
}

/* A Windows Sockets step that failed has its own box; the rest say what
   became of the exchange. */
static void ShowFailure(HWND dialog, const RequestOutcome *outcome)
{
    if (outcome->failure == FAILURE_SOCKET) {
        ReportSocketFailure(outcome->report, outcome->socketError);
        return;
    }
    FormatText(textBuffer, sizeof textBuffer, "%s" TRY_ANOTHER_HOST_LINES, outcome->report);
    MessageBoxA(dialog, textBuffer, "Connection Error", MB_ICONWARNING);
}

static void StartDialogRequest(HWND dialog, AppState *state)
{
    RequestOutcome outcome;
    ShowRequestRunning(dialog);
    if (StartRequest(dialog, state, &outcome)) {
        ShowBusyCursor(state);
        return;
    }
    ResetRequestControls(dialog, state);
    ShowFailure(dialog, &outcome);
}

static void StartAutoCloseTimer(HWND dialog, AppState *state)
{
    if (state->autoCloseTimer != 0)
        KillTimer(dialog, state->autoCloseTimer);
    state->autoCloseTimer = SetTimer(dialog, AUTO_CLOSE_TIMER_ID, AUTO_CLOSE_MS, NULL);
}

static void FillHostBox(HWND dialog, const AppState *state)
{
    HWND box = GetDlgItem(dialog, IDC_MAIN_HOST);
    for (int i = 0; i < state->hosts.itemCount; i++)
        SendMessageA(box, CB_ADDSTRING, 0, (LPARAM)state->hosts.items[i]);
    shownHost = CB_ERR;
    if (state->host == NULL)
        return;
    LRESULT index = SendMessageA(box, CB_FINDSTRINGEXACT, (WPARAM)-1, (LPARAM)state->host);
    if (index == CB_ERR)
        index = SendMessageA(box, CB_ADDSTRING, 0, (LPARAM)state->host);
    shownHost = SendMessageA(box, CB_SETCURSEL, (WPARAM)index, 0);
}

static void ShowOptions(HWND dialog, const AppState *state)
{
    CheckDlgButton(dialog, IDC_MAIN_AUTOCLOSE, state->autoClose ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dialog, IDC_MAIN_REPORTONLY, state->reportOnly ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dialog, IDC_MAIN_AUTOSTART, state->autoStart ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dialog, IDC_MAIN_SYSTRAY, state->sysTray ? BST_CHECKED : BST_UNCHECKED);
    SetField(dialog, IDC_MAIN_ZONE, state->tzName != NULL ? state->tzName : "(none)");
}

/* Centred across, its top at one third of the free height. */
static void PlaceDialog(HWND dialog)
{
    RECT frame;
    GetWindowRect(dialog, &frame);
    int x = (GetSystemMetrics(SM_CXSCREEN) - (frame.right - frame.left)) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - (frame.bottom - frame.top)) / 3;
    SetWindowPos(dialog, NULL, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

static BOOL FetchesOnOpening(const AppState *state, LPARAM startFetch)
{
    return startFetch != 0 && ((state->autoStart && firstDialog) || state->timeOut != 0)
           && state->host != NULL && state->host[0] != '\0' && state->tzName != NULL;
}

static void ShowStartupBox(HWND dialog)
{
    bool present = GetStartupLinkPath(startupLinkPath) && FileExists(startupLinkPath);
    CheckDlgButton(dialog, IDC_MAIN_STARTUP, present ? BST_CHECKED : BST_UNCHECKED);
}

static BOOL OnInitDialog(HWND dialog, LPARAM startFetch)
{
    AppState *state = AppStateOf(mainWindow);
    if (state == NULL) {
        /* The program is ending. */
        EndDialog(dialog, 0);
        return FALSE;
    }
    openDialog = dialog;
    FillHostBox(dialog, state);
    ShowOptions(dialog, state);
    PlaceDialog(dialog);
    SetFocus(GetDlgItem(dialog, IDC_MAIN_GETTIME));
    if (FetchesOnOpening(state, startFetch)) {
        SetCalibrationsDue(state->request, state->attempts);
        SetField(dialog, IDC_MAIN_STATUS, "Calibrating Net Lag ...");
        StartDialogRequest(dialog, state);
        state = AppStateOf(mainWindow);
        if (state == NULL || !IsWindow(dialog))
            return FALSE;
    } else {
        if (state->busyCursor != NULL)
            ReleaseBusyCursor(state);
        SetField(dialog, IDC_MAIN_STATUS, "");
    }
    firstDialog = 0;
    SetTimer(dialog, CLOCK_TIMER_ID, CLOCK_MS, NULL);
    ShowStartupBox(dialog);
    return FALSE;
}

static void ShowClockTitle(HWND dialog)
{
    TimeSample sample;
    memset(&sample, 0, sizeof sample);
    sample.serverTime = CurrentTime();
    sample.localTime = sample.serverTime;
    FormatTimeOfDay(&sample, textBuffer, TEXT_BUFFER_SIZE);
    SetWindowTextA(dialog, textBuffer);
}

static BOOL OnRequestMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

static void OnTimer(HWND dialog, WPARAM timerId)
{
    if (timerId == AUTO_CLOSE_TIMER_ID)
        EndDialog(dialog, 1);
    else if (timerId == REQUEST_TIMER_ID)
        OnRequestMessage(dialog, WM_TIMER, timerId, 0);
    else
        ShowClockTitle(dialog);
}

/* Only while a request runs: a request of the main window ends without
   releasing its cursor.  The result tells the control under the mouse that
   the cursor is set, so that it does not put its own back. */
static BOOL OnSetCursor(HWND dialog)
{
    const AppState *state = AppStateOf(mainWindow);
    if (state == NULL || !RequestRunning(state->request) || state->busyCursor == NULL)
        return FALSE;
    SetCursor(state->busyCursor);
    SetWindowLongPtrA(dialog, DWLP_MSGRESULT, TRUE);
    return TRUE;
}

static BOOL IsUsableHost(const char *text)
{
    return text[0] != '\0' && !isspace((unsigned char)text[0]);
}

static void StartFromHostBox(HWND dialog, AppState *state)
{
    GetDlgItemTextA(dialog, IDC_MAIN_HOST, textBuffer, TEXT_BUFFER_SIZE);
    if (!IsUsableHost(textBuffer)) {
        MessageBeep(MB_ICONEXCLAMATION);
        return;
    }
    HWND box = GetDlgItem(dialog, IDC_MAIN_HOST);
    if (SendMessageA(box, CB_FINDSTRINGEXACT, (WPARAM)-1, (LPARAM)textBuffer) == CB_ERR
        && SendMessageA(box, CB_INSERTSTRING, 0, (LPARAM)textBuffer) != CB_ERR
        && shownHost != CB_ERR)
        shownHost++;
    state->host = ReplaceString(state->host, textBuffer);
    if (state->host == NULL || state->host[0] == '\0')
        return;
    StartDialogRequest(dialog, state);
}

static void StopDialogRequest(HWND dialog, AppState *state)
{
    RequestOutcome outcome;
    StopRequest(state->request, &outcome);
    ResetRequestControls(dialog, state);
    SetField(dialog, IDC_MAIN_STATUS, "Stopped");
    ClearResultFields(dialog);
}

/* The button is the dialog's own: it stops only the dialog's request. */
static void OnGetTimeClicked(HWND dialog, AppState *state)
{
    if (RequestOwnedBy(state->request, dialog))
        StopDialogRequest(dialog, state);
    else
        StartFromHostBox(dialog, state);
}

static void OnCloseClicked(HWND dialog, const AppState *state)
{
    if (!RequestOwnedBy(state->request, dialog))
        EndDialog(dialog, 0);
}

static void OnAutoCloseClicked(HWND dialog, AppState *state)
{
    state->autoClose = IsDlgButtonChecked(dialog, IDC_MAIN_AUTOCLOSE) ? 1 : 0;
    if (state->autoCloseTimer != 0) {
        KillTimer(dialog, state->autoCloseTimer);
        state->autoCloseTimer = 0;
    }
    if (state->autoClose)
        StartAutoCloseTimer(dialog, state);
}

static void OnSysTrayClicked(HWND dialog, AppState *state)
{
    if (IsDlgButtonChecked(dialog, IDC_MAIN_SYSTRAY)) {
        ShowTrayIcon(mainWindow);
        state->sysTray = 1;
    } else {
        RemoveTrayIcon(mainWindow, TRAY_ICON_ID);
        state->sysTray = 0;
        state->quiet = 0;
    }
}

static void CreateStartupLink(void)
{
    DWORD length = GetModuleFileNameA(NULL, textBuffer, MODULE_NAME_SIZE);
    /* A cut name would point the link at another file. */
    if (length == 0 || length >= MODULE_NAME_SIZE || startupLinkPath[0] == '\0')
        return;
    CreateShortcut(startupLinkPath, textBuffer, "Horavex");
}

/* The box follows the file: ticked only when the shortcut is there. */
static void OnStartupClicked(HWND dialog)
{
    if (FileExists(startupLinkPath))
        DeleteFileA(startupLinkPath);
    else
        CreateStartupLink();
    CheckDlgButton(dialog, IDC_MAIN_STARTUP,
                   FileExists(startupLinkPath) ? BST_CHECKED : BST_UNCHECKED);
}

/* Emptying the host field removes the selected host from the list. */
static void OnHostEditChange(HWND dialog)
{
    char text[TEXT_BUFFER_SIZE];
    GetDlgItemTextA(dialog, IDC_MAIN_HOST, text, sizeof text);
    if (text[0] != '\0')
        return;
    HWND box = GetDlgItem(dialog, IDC_MAIN_HOST);
    LRESULT selection = SendMessageA(box, CB_GETCURSEL, 0, 0);
    if (selection == CB_ERR)
        selection = shownHost;
    if (selection == CB_ERR || SendMessageA(box, CB_DELETESTRING, (WPARAM)selection, 0) == CB_ERR)
        return;
    shownHost = SendMessageA(box, CB_SETCURSEL, (WPARAM)(selection > 0 ? selection - 1 : 0), 0);
}

static void OnHostSelected(HWND dialog)
{
    shownHost = SendDlgItemMessageA(dialog, IDC_MAIN_HOST, CB_GETCURSEL, 0, 0);
}

static void OnButton(HWND dialog, int id)
{
    AppState *state = AppStateOf(mainWindow);
    if (state == NULL)
        return;
    switch (id) {
    case IDC_MAIN_GETTIME:
        OnGetTimeClicked(dialog, state);
        break;
    case IDC_MAIN_CLOSE:
        OnCloseClicked(dialog, state);
        break;
    case IDC_MAIN_ABOUT:
        ShowAboutBox(dialog);
        break;
    case IDC_MAIN_REPORTONLY:
        state->reportOnly = IsDlgButtonChecked(dialog, IDC_MAIN_REPORTONLY) ? 1 : 0;
        break;
    case IDC_MAIN_AUTOCLOSE:
        OnAutoCloseClicked(dialog, state);
        break;
    case IDC_MAIN_ADVANCED:
        DialogBoxParamA(appInstance, MAKEINTRESOURCEA(IDD_ADVANCED), dialog, AdvancedDlgProc,
                        (LPARAM)state);
        break;
    case IDC_MAIN_AUTOSTART:
        state->autoStart = state->autoStart ? 0 : 1;
        break;
    case IDC_MAIN_SYSTRAY:
        OnSysTrayClicked(dialog, state);
        break;
    case IDC_MAIN_HELP: {
        char path[MAX_PATH];
        WinHelpA(dialog, HelpFilePath(path, sizeof path), HELP_FINDER, 0);
        break;
    }
    case IDC_MAIN_EXIT:
        PostMessageA(mainWindow, WM_CLOSE, 0, 0);
        EndDialog(dialog, 0);
        break;
    case IDC_MAIN_STARTUP:
        OnStartupClicked(dialog);
        break;
    }
}

static void OnCommand(HWND dialog, WPARAM wParam)
{
    int id = LOWORD(wParam);
    int code = HIWORD(wParam);
    if (id == IDC_MAIN_HOST && code == CBN_EDITCHANGE)
        OnHostEditChange(dialog);
    else if (id == IDC_MAIN_HOST && code == CBN_SELCHANGE)
        OnHostSelected(dialog);
    else if (code == BN_CLICKED)
        OnButton(dialog, id);
}

static void ShowLongDate(HWND dialog, TimeSample *sample, BOOL hasFields)
{
    int length = 0;
    if (hasFields)
        length = GetDateFormatA(LOCALE_SYSTEM_DEFAULT, DATE_LONGDATE, &sample->systemTime, NULL,
                                textBuffer, TEXT_BUFFER_SIZE - 1);
    SetField(dialog, IDC_MAIN_STATUS, length > 0 ? textBuffer : NO_DATE);
}

/* Whole seconds for the Time protocol, milliseconds for SNTP. */
static void ShowDifference(HWND dialog, const TimeSample *sample)
{
    if (sample->precise) {
        char seconds[32];
        FormatSeconds(sample->offset, seconds, sizeof seconds);
        FormatText(textBuffer, sizeof textBuffer, "%s secs", seconds);
    } else {
        long long difference = (long long)sample->serverTime - sample->localTime;
        FormatText(textBuffer, sizeof textBuffer, "%lld secs", difference);
    }
    SetField(dialog, IDC_MAIN_DIFF, textBuffer);
}

/* Of several servers, how many agreed and who was off: on its own line,
   and in short after the time in the hidden window's title. */
static void ShowAgreement(HWND dialog, TimeSample *sample)
{
    char agreement[TEXT_BUFFER_SIZE];
    FormatAgreement(sample, agreement, sizeof agreement);
    SetField(dialog, IDC_MAIN_SOURCES, agreement);
    FormatTimeOfDay(sample, textBuffer, TEXT_BUFFER_SIZE);
    size_t length = strlen(textBuffer);
    FormatAgreementInShort(sample, textBuffer + length, sizeof textBuffer - length);
    SetWindowTextA(mainWindow, textBuffer);
}

static void ShowReading(HWND dialog, TimeSample *sample)
{
    ShowLongDate(dialog, sample, ToLocalFields(sample));
    FormatTimeOfDay(sample, textBuffer, TEXT_BUFFER_SIZE);
    SetField(dialog, IDC_MAIN_TIME, textBuffer);
    SetWindowTextA(dialog, textBuffer);
    ShowDifference(dialog, sample);
    FormatText(textBuffer, sizeof textBuffer, "%lu ms", (unsigned long)sample->lag);
    SetField(dialog, IDC_MAIN_LAG, textBuffer);
    ShowAgreement(dialog, sample);
}

static void ShowCalibration(HWND dialog, const TimeSample *sample)
{
    FormatText(textBuffer, sizeof textBuffer, "Calibrating Lag (%lu ms)",
               (unsigned long)sample->lag);
    SetField(dialog, IDC_MAIN_STATUS, textBuffer);
}

/* A reading that counts, shown and applied unless report-only; Auto Close
   counts from here, as after a read that gave none. */
static void EndWithReading(HWND dialog, TimeSample *sample)
{
    AppState *state = AppStateOf(mainWindow);
    if (sample != NULL) {
        int applied = ApplyTime(dialog, sample, state);
        /* Its boxes' loops may have ended the program or the dialog. */
        state = AppStateOf(mainWindow);
        if (state == NULL || !IsWindow(dialog))
            return;
        /* The service takes a new reading after "Big Change": the dialog
           waits for it as for any request, and Stop! ends it. */
        if (applied == APPLY_ASKED_AGAIN) {
            ShowRequestRunning(dialog);
            ShowBusyCursor(state);
            return;
        }
        ShowReading(dialog, sample);
    }
    if (state->autoClose)
        StartAutoCloseTimer(dialog, state);
}

/* The request has ended for every outcome but a calibration: the
   controls are at rest before anything is shown. */
static void OnRequestOutcome(HWND dialog, RequestOutcome *outcome)
{
    AppState *state = AppStateOf(mainWindow);
    if (state == NULL || outcome->kind < OUTCOME_CALIBRATION)
        return;
    if (outcome->kind == OUTCOME_CALIBRATION) {
        ShowCalibration(dialog, &outcome->sample);
        return;
    }
    ResetRequestControls(dialog, state);
    if (outcome->kind == OUTCOME_READING)
        EndWithReading(dialog, &outcome->sample);
    else if (outcome->kind == OUTCOME_NO_READING)
        EndWithReading(dialog, NULL);
    else if (outcome->kind == OUTCOME_FAILED)
        ShowFailure(dialog, outcome);
}

/* UM_SOCKET, UM_JOBDONE and the request's own timer.  False for a message
   that is not about the request: UM_SOCKET is also DM_REPOSITION, and a
   socket that is no longer the request's was closed already. */
static BOOL OnRequestMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    AppState *state = AppStateOf(mainWindow);
    RequestOutcome outcome;
    if (state == NULL
        || OnRequestMessage(state->request, dialog, message, wParam, lParam, &outcome)
               == OUTCOME_NOT_OURS)
        return FALSE;
    OnRequestOutcome(dialog, &outcome);
    return TRUE;
}

static void StoreHostList(HWND dialog, AppState *state)
{
    HWND box = GetDlgItem(dialog, IDC_MAIN_HOST);
    StringListClear(&state->hosts);
    for (WPARAM i = 0;; i++) {
        LRESULT length = SendMessageA(box, CB_GETLBTEXTLEN, i, 0);
        if (length == CB_ERR)
            break;
        if (length >= TEXT_BUFFER_SIZE)
            continue;
        if (SendMessageA(box, CB_GETLBTEXT, i, (LPARAM)textBuffer) == CB_ERR)
            break;
        /* An empty or blank-led entry (an empty host shows as one) would
           only be dropped at the next start. */
        if (IsUsableHost(textBuffer))
            StringListAdd(&state->hosts, textBuffer);
    }
}

void KeepOpenDialogHosts(AppState *state)
{
    if (openDialog != NULL && IsWindow(openDialog))
        StoreHostList(openDialog, state);
}

static void OnDestroy(HWND dialog)
{
    openDialog = NULL;
    KillTimer(dialog, AUTO_CLOSE_TIMER_ID);
    KillTimer(dialog, CLOCK_TIMER_ID);
    AppState *state = AppStateOf(mainWindow);
    if (state == NULL)
        return;
    state->autoCloseTimer = 0;
    /* A request of this dialog would have no window for its notifications
       and would hold the state "running" for the next dialog. */
    if (RequestOwnedBy(state->request, dialog)) {
        EndRequest(state->request);
        ReleaseBusyCursor(state);
    }
    StoreHostList(dialog, state);
}

INT_PTR CALLBACK MainDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog(dialog, lParam);
    case WM_TIMER:
        OnTimer(dialog, wParam);
        return TRUE;
    case WM_SETCURSOR:
        return OnSetCursor(dialog);
    case WM_COMMAND:
        OnCommand(dialog, wParam);
        return TRUE;
    case UM_SOCKET:
    case UM_JOBDONE:
        return OnRequestMessage(dialog, message, wParam, lParam);
    case WM_DESTROY:
        OnDestroy(dialog);
        return TRUE;
    }
    return FALSE;
}
