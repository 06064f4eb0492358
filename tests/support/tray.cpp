#include "tray.h"

#include <shellapi.h>
#include <string.h>

#include "windowhelpers.h"

static bool NotifyShell(DWORD command, HWND window, UINT id)
{
    NOTIFYICONDATAA data;
    memset(&data, 0, sizeof data);
    data.cbSize = NOTIFYICONDATAA_V1_SIZE;
    data.hWnd = window;
    data.uID = id;
    return Shell_NotifyIconA(command, &data) != FALSE;
}

bool TrayIconShown(HWND window, UINT id)
{
    return NotifyShell(NIM_MODIFY, window, id);
}

void ForgetTrayIcon(HWND window, UINT id)
{
    NotifyShell(NIM_DELETE, window, id);
}

int TrayAreaInk()
{
    HWND taskbar = FindWindowA("Shell_TrayWnd", NULL);
    RECT bar;
    if (taskbar == NULL || !GetWindowRect(taskbar, &bar))
        return -1;
    HDC screen = GetDC(NULL);
    COLORREF background = GetPixel(screen, bar.right - 60, bar.bottom - 2);
    int ink = 0;
    for (int y = bar.top + 1; y < bar.bottom - 1; y++)
        for (int x = bar.right - 40; x < bar.right - 1; x++)
            ink += GetPixel(screen, x, y) != background ? 1 : 0;
    ReleaseDC(NULL, screen);
    return ink;
}

HWND WaitForPopupMenu(DWORD processId, DWORD timeoutMs)
{
    return WaitForWindow("#32768", NULL, processId, timeoutMs);
}

void ChooseMenuItem(HWND menu, char key)
{
    PostMessageA(menu, WM_CHAR, (WPARAM)(unsigned char)key, 0);
}
