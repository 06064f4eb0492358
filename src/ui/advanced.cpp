#include "ui/advanced.h"

#include <commdlg.h>
#include <ctype.h>
#include <stdlib.h>
#include <string.h>

#include "base/appstate.h"
#include "base/fetchtimer.h"
#include "base/globals.h"
#include "base/helpfile.h"
#include "base/stringlist.h"
#include "base/textfmt.h"
#include "resource.h"
#include "persist/resultlog.h"
#include "timeclient/adjustlimit.h"
#include "timeclient/request.h"

#define LOG_FILE_NAME_SIZE 256
#define LOG_FILTERS "Logs (*.log)\0*.log\0All files (*.*)\0*.*\0"
#define NOTEPAD_COMMAND "notepad \"%s\""

/* The record being edited: one Advanced Options dialog at a time. */
static AppState *advancedState;

char *ChooseLogFile(HWND owner, const char *title, const char *filters, char *fileName,
                    DWORD size, const char *initialDir, DWORD flags)
{
    OPENFILENAMEA choice;
    memset(&choice, 0, sizeof choice);
    /* The first layout of the record, which every version takes. */
    choice.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    choice.hwndOwner = owner;
    choice.lpstrFilter = filters;
    choice.nFilterIndex = 1;
    choice.lpstrFile = fileName;
    choice.nMaxFile = size;
    choice.lpstrInitialDir = initialDir;
    choice.lpstrTitle = title;
    choice.Flags = flags;
    return GetOpenFileNameA(&choice) ? fileName : NULL;
}

static void SetNumber(HWND dialog, int id, DWORD value)
{
    SetDlgItemInt(dialog, id, value, FALSE);
}

static void ShowSettings(HWND dialog, AppState *state)
{
    SetNumber(dialog, IDC_ADV_MAXADJUST, state->maxAdjust);
    if (state->adjOpt < ADJOPT_ASK || state->adjOpt > ADJOPT_ACCEPT)
        state->adjOpt = ADJOPT_ASK;
    CheckRadioButton(dialog, IDC_ADV_PROMPT, IDC_ADV_ACCEPT, IDC_ADV_PROMPT + state->adjOpt);
    CheckDlgButton(dialog, IDC_ADV_USELOG, state->logOpts != 0 ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dialog, IDC_ADV_VERBOSE, state->logOpts == 2 ? BST_CHECKED : BST_UNCHECKED);
    if (state->logPath != NULL)
        SetDlgItemTextA(dialog, IDC_ADV_LOGPATH, state->logPath);
    SetNumber(dialog, IDC_ADV_ATTEMPTS, state->attempts);
    SetNumber(dialog, IDC_ADV_PERIOD, state->timeOut);
    CheckDlgButton(dialog, IDC_ADV_QUIET, state->quiet ? BST_CHECKED : BST_UNCHECKED);
    /* Any value but SNTP's and NTS's asks with the Time protocol. */
    int protocol = state->protocol == PROTOCOL_SNTP  ? IDC_ADV_SNTP
                   : state->protocol == PROTOCOL_NTS ? IDC_ADV_NTS
                                                     : IDC_ADV_TIMEPROTOCOL;
    CheckDlgButton(dialog, protocol, BST_CHECKED);
    SetNumber(dialog, IDC_ADV_SOURCES, (DWORD)state->sources);
}

/* Set once here: they do not follow later changes in the dialog. */
static void EnableByState(HWND dialog, const AppState *state)
{
    EnableWindow(GetDlgItem(dialog, IDC_ADV_PERIOD), state->sysTray != 0);
    EnableWindow(GetDlgItem(dialog, IDC_ADV_QUIET), state->sysTray != 0);
    EnableWindow(GetDlgItem(dialog, IDC_ADV_VIEW),
                 state->logOpts != 0 && state->logPath != NULL);
}

static BOOL OnInitDialog(HWND dialog, LPARAM lParam)
{
    if (lParam == 0) {
        EndDialog(dialog, 1);
        return TRUE;
    }
    advancedState = (AppState *)lParam;
    ShowSettings(dialog, advancedState);
    EnableByState(dialog, advancedState);
    return TRUE;
}

/* A field stored while typing keeps a number: anything else beeps and
   shows the stored one again. */
static void StoreTypedNumber(HWND dialog, int id, DWORD *setting)
{
    BOOL valid = FALSE;
    UINT value = GetDlgItemInt(dialog, id, &valid, FALSE);
    if (valid) {
        *setting = value;
        return;
    }
    MessageBeep((UINT)-1);
    SetNumber(dialog, id, *setting);
}

/* The same capped period as the main window's timer, so that no typed
   number wraps into a short one. */
static void ApplyPeriod(HWND dialog, AppState *state)
{
    BOOL valid = FALSE;
    DWORD minutes = GetDlgItemInt(dialog, IDC_ADV_PERIOD, &valid, FALSE);
    if (!valid)
        minutes = 0;
    if (minutes == state->timeOut)
        return;
    if (state->timeOut != 0)
        KillTimer(mainWindow, FETCH_TIMER_ID);
    state->timeOut = minutes;
    if (minutes != 0 && SetTimer(mainWindow, FETCH_TIMER_ID, FetchPeriod(minutes), NULL) == 0)
        state->timeOut = 0;
}

static int ChosenLogOpts(HWND dialog)
{
    int logOpts = IsDlgButtonChecked(dialog, IDC_ADV_USELOG) ? 1 : 0;
    if (IsDlgButtonChecked(dialog, IDC_ADV_VERBOSE))
        logOpts = 2;
    return logOpts;
}

static int ChosenAdjOpt(HWND dialog)
{
    if (IsDlgButtonChecked(dialog, IDC_ADV_ACCEPT))
        return ADJOPT_ACCEPT;
    return IsDlgButtonChecked(dialog, IDC_ADV_IGNORE) ? ADJOPT_IGNORE : ADJOPT_ASK;
}

static void TrimTrailingBlanks(char *text)
{
    size_t length = strlen(text);
    while (length > 0 && isspace((unsigned char)text[length - 1]))
        text[--length] = '\0';
}

/* The path of the field, without surrounding blanks, in textBuffer;
   false, with the beep and the focus on the field, for a blank one. */
static BOOL ReadLogPath(HWND dialog, const char **path)
{
    GetDlgItemTextA(dialog, IDC_ADV_LOGPATH, textBuffer, TEXT_BUFFER_SIZE);
    TrimTrailingBlanks(textBuffer);
    *path = textBuffer;
    while (isspace((unsigned char)**path))
        (*path)++;
    if (**path != '\0')
        return TRUE;
    MessageBeep((UINT)-1);
    SetFocus(GetDlgItem(dialog, IDC_ADV_LOGPATH));
    return FALSE;
}

/* The servers to ask, 1 to 8; false, with the beep and the focus on the
   field, for anything else. */
static BOOL ReadSources(HWND dialog, int *sources)
{
    BOOL valid = FALSE;
    UINT count = GetDlgItemInt(dialog, IDC_ADV_SOURCES, &valid, FALSE);
    if (valid && count >= 1 && count <= MOST_SOURCE_SETTING) {
        *sources = (int)count;
        return TRUE;
    }
    MessageBeep((UINT)-1);
    SetFocus(GetDlgItem(dialog, IDC_ADV_SOURCES));
    return FALSE;
}

/* Checked first, stored all together: a refused path or count leaves
   every setting as it was, as Cancel then promises. */
static void OnOk(HWND dialog, AppState *state)
{
    int logOpts = ChosenLogOpts(dialog);
    const char *path = NULL;
    int sources = state->sources;
    if (!ReadSources(dialog, &sources) || (logOpts != 0 && !ReadLogPath(dialog, &path)))
        return;
    if (path != NULL)
        state->logPath = ReplaceString(state->logPath, path);
    if (state->sysTray) {
        ApplyPeriod(dialog, state);
        state->quiet = IsDlgButtonChecked(dialog, IDC_ADV_QUIET) ? 1 : 0;
    }
    state->adjOpt = ChosenAdjOpt(dialog);
    state->protocol = IsDlgButtonChecked(dialog, IDC_ADV_SNTP)  ? PROTOCOL_SNTP
                      : IsDlgButtonChecked(dialog, IDC_ADV_NTS) ? PROTOCOL_NTS
                                                                : PROTOCOL_TIME;
    state->sources = sources;
    state->logOpts = logOpts;
    EndDialog(dialog, 0);
}

/* Splits the field's path at its last backslash: the folder to start in
   (into textBuffer) and the name to propose (left in fileName). */
static void SplitLogPath(char *fileName)
{
    textBuffer[0] = '\0';
    char *name = strrchr(fileName, '\\');
    if (fileName[0] == '\0' || name == NULL)
        return;
    *name = '\0';
    lstrcpynA(textBuffer, fileName, TEXT_BUFFER_SIZE);
    memmove(fileName, name + 1, strlen(name + 1) + 1);
}

static void LowerAsciiLetters(char *text)
{
    for (; *text != '\0'; text++)
        if (*text >= 'A' && *text <= 'Z')
            *text = (char)(*text - 'A' + 'a');
}

static void OnLogFileClicked(HWND dialog)
{
    char *fileName = (char *)calloc(LOG_FILE_NAME_SIZE, 1);
    if (fileName == NULL)
        return;
    GetDlgItemTextA(dialog, IDC_ADV_LOGPATH, fileName, LOG_FILE_NAME_SIZE);
    SplitLogPath(fileName);
    if (ChooseLogFile(dialog, "Select Log File", LOG_FILTERS, fileName, LOG_FILE_NAME_SIZE,
                      textBuffer, OFN_PATHMUSTEXIST)
        != NULL
        && fileName[0] != '\0') {
        fileName[LOG_FILE_NAME_SIZE - 1] = '\0';
        LowerAsciiLetters(fileName);
        SetDlgItemTextA(dialog, IDC_ADV_LOGPATH, fileName);
    }
    free(fileName);
}

static void OnQuietClicked(HWND dialog, const AppState *state)
{
    if (!IsDlgButtonChecked(dialog, IDC_ADV_QUIET) || state->sysTray)
        return;
    MessageBoxA(dialog, "Horavex must be in the systray to run quietly", "Horavex quiet",
                MB_ICONWARNING);
    CheckDlgButton(dialog, IDC_ADV_QUIET, BST_UNCHECKED);
}

/* The stored path as the log is written to it, quoted so that one with
   blanks is still one file. */
static void OnViewClicked(const AppState *state)
{
    char path[2 * TEXT_BUFFER_SIZE];
    if (state->logOpts == 0 || !LogFilePath(state, path, sizeof path))
        return;
    FormatText(textBuffer, sizeof textBuffer, NOTEPAD_COMMAND, path);
    WinExec(textBuffer, SW_SHOWNORMAL);
}

static void OnHelpClicked(HWND dialog)
{
    char path[MAX_PATH];
    WinHelpA(dialog, HelpFilePath(path, sizeof path), HELP_CONTEXT, HELP_CONTEXT_ADVANCED);
}

static void OnButton(HWND dialog, int id)
{
    AppState *state = advancedState;
    switch (id) {
    case IDC_ADV_OK:
        OnOk(dialog, state);
        break;
    case IDC_ADV_CANCEL:
        EndDialog(dialog, 0);
        break;
    case IDC_ADV_LOGFILE:
        OnLogFileClicked(dialog);
        break;
    case IDC_ADV_HELP:
        OnHelpClicked(dialog);
        break;
    case IDC_ADV_QUIET:
        OnQuietClicked(dialog, state);
        break;
    case IDC_ADV_VIEW:
        OnViewClicked(state);
        break;
    }
}

static void OnCommand(HWND dialog, WPARAM wParam)
{
    int id = LOWORD(wParam);
    int code = HIWORD(wParam);
    if (code == EN_UPDATE && id == IDC_ADV_MAXADJUST)
        StoreTypedNumber(dialog, id, &advancedState->maxAdjust);
    else if (code == EN_UPDATE && id == IDC_ADV_ATTEMPTS)
        StoreTypedNumber(dialog, id, &advancedState->attempts);
    else if (code == BN_CLICKED)
        OnButton(dialog, id);
}

INT_PTR CALLBACK AdvancedDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog(dialog, lParam);
    case WM_COMMAND:
        if (advancedState != NULL)
            OnCommand(dialog, wParam);
        return TRUE;
    case WM_DESTROY:
        advancedState = NULL;
        return FALSE;
    }
    return FALSE;
}
