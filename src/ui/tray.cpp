#include "ui/tray.h"

#include "base/globals.h"

HMENU trayMenu;

/* No notification-area icon or menu yet; the icon handle is still taken
   and released as the callers expect. */
BOOL AddTrayIcon(HWND window, UINT id, UINT message, HICON icon, const char *tip)
{
    (void)window;
    (void)id;
    (void)message;
    (void)tip;
    if (icon != NULL)
        DestroyIcon(icon);
    return FALSE;
}

void SetTrayTip(HWND window, UINT id, const char *tip)
{
    (void)window;
    (void)id;
    (void)tip;
}

BOOL RemoveTrayIcon(HWND window, UINT id)
{
    (void)window;
    (void)id;
    return FALSE;
}

void OnTrayNotify(HWND window, WPARAM wParam, LPARAM lParam)
{
    (void)window;
    (void)wParam;
    (void)lParam;
}

void BuildTrayMenu(void)
{
    trayMenu = NULL;
}
