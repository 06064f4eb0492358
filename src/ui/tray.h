#ifndef HORAVEX_TRAY_H
#define HORAVEX_TRAY_H

#include <windows.h>

#define TRAY_ICON_ID 0
#define TRAY_TIP "Horavex"

/* The popup menu of the notification-area icon. */
extern HMENU trayMenu;

/* Takes ownership of icon. */
BOOL AddTrayIcon(HWND window, UINT id, UINT message, HICON icon, const char *tip);
void SetTrayTip(HWND window, UINT id, const char *tip);
BOOL RemoveTrayIcon(HWND window, UINT id);
void OnTrayNotify(HWND window, WPARAM wParam, LPARAM lParam);
void BuildTrayMenu(void);

#endif
