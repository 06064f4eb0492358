#include "ui/tray.h"

#include <shellapi.h>
#include <string.h>
#include <time.h>
#include <windowsx.h>

#include "base/globals.h"
#include "resource.h"

HMENU trayMenu;

/* The record's first layout, which every shell takes. */
static void StartIconData(NOTIFYICONDATAA *data, HWND window, UINT id)
{
    memset(data, 0, sizeof *data);
    data->cbSize = NOTIFYICONDATAA_V1_SIZE;
    data->hWnd = window;
    data->uID = id;
}

static void SetTip(NOTIFYICONDATAA *data, const char *tip)
{
    lstrcpynA(data->szTip, tip != NULL ? tip : "", sizeof data->szTip);
}

BOOL AddTrayIcon(HWND window, UINT id, UINT message, HICON icon, const char *tip)
{
    NOTIFYICONDATAA data;
    StartIconData(&data, window, id);
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = message;
    data.hIcon = icon;
    SetTip(&data, tip);
    BOOL added = Shell_NotifyIconA(NIM_ADD, &data);
    /* The shell keeps a copy of its own. */
    if (icon != NULL)
        DestroyIcon(icon);
    return added;
}

void SetTrayTip(HWND window, UINT id, const char *tip)
{
    NOTIFYICONDATAA data;
    StartIconData(&data, window, id);
    data.uFlags = NIF_TIP;
    SetTip(&data, tip);
    Shell_NotifyIconA(NIM_MODIFY, &data);
}

BOOL RemoveTrayIcon(HWND window, UINT id)
{
    NOTIFYICONDATAA data;
    StartIconData(&data, window, id);
    return Shell_NotifyIconA(NIM_DELETE, &data);
}

BOOL ShowTrayIcon(HWND window)
{
    return AddTrayIcon(window, TRAY_ICON_ID, UM_TRAY,
                       LoadIconA(appInstance, MAKEINTRESOURCEA(IDI_TRAY)), TRAY_TIP);
}

bool FormatTrayTime(time_t t, char *buffer, size_t size)
{
    const char *text = ctime(&t);
    if (text == NULL || size == 0)
        return false;
    size_t length = strnlen(text, TRAY_TIME_LENGTH);
    if (length >= size)
        length = size - 1;
    memcpy(buffer, text, length);
    buffer[length] = '\0';
    return true;
}

static void OpenMenuAtCursor(HWND window)
{
    POINT cursor;
    GetCursorPos(&cursor);
    SetForegroundWindow(window);
    SendMessageA(window, WM_CONTEXTMENU, (WPARAM)window, MAKELPARAM(cursor.x, cursor.y));
}

void OnTrayNotify(HWND window, WPARAM wParam, LPARAM lParam)
{
    (void)wParam;
    if (lParam == WM_LBUTTONDOWN || lParam == WM_RBUTTONDOWN) {
        OpenMenuAtCursor(window);
        return;
    }
    if (FormatTrayTime(time(NULL), textBuffer, TEXT_BUFFER_SIZE))
        SetTrayTip(window, TRAY_ICON_ID, textBuffer);
}

void ShowTrayMenu(HWND window, LPARAM position)
{
    /* Signed: a monitor left of or above the primary one has negative
       coordinates. */
    TrackPopupMenu(trayMenu, TPM_RIGHTBUTTON, GET_X_LPARAM(position), GET_Y_LPARAM(position), 0,
                   window, NULL);
    /* Lets the menu close when the user clicks elsewhere. */
    PostMessageA(window, WM_NULL, 0, 0);
}

void BuildTrayMenu(void)
{
    trayMenu = CreatePopupMenu();
    AppendMenuA(trayMenu, MF_STRING, IDM_GETTIME, "&Get time ...");
    AppendMenuA(trayMenu, MF_SEPARATOR, 0, NULL);
    AppendMenuA(trayMenu, MF_STRING, IDM_ABOUT, "&About");
    AppendMenuA(trayMenu, MF_STRING, IDM_HELP, "&Help");
    AppendMenuA(trayMenu, MF_SEPARATOR, 0, NULL);
    AppendMenuA(trayMenu, MF_STRING, IDM_EXIT, "E&xit");
    AppendMenuA(trayMenu, MF_SEPARATOR, 0, NULL);
    AppendMenuA(trayMenu, MF_STRING, IDM_PROPERTIES, "&Properties");
}
