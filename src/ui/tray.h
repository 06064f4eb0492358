#ifndef HORAVEX_TRAY_H
#define HORAVEX_TRAY_H

#include <windows.h>
#include <time.h>

#define TRAY_ICON_ID 0
#define TRAY_TIP "Horavex"
/* ctime's fixed layout without its line feed. */
#define TRAY_TIME_LENGTH 24

/* The popup menu of the notification-area icon; it lives as long as the
   process. */
extern HMENU trayMenu;

/* Takes ownership of icon. */
BOOL AddTrayIcon(HWND window, UINT id, UINT message, HICON icon, const char *tip);
void SetTrayTip(HWND window, UINT id, const char *tip);
BOOL RemoveTrayIcon(HWND window, UINT id);
void OnTrayNotify(HWND window, WPARAM wParam, LPARAM lParam);
void BuildTrayMenu(void);

/* The program's own icon for window, with its first tip. */
BOOL ShowTrayIcon(HWND window);

/* Opens trayMenu at the position that WM_CONTEXTMENU carries. */
void ShowTrayMenu(HWND window, LPARAM position);

/* The local date and time of t as the tip shows it; false (and buffer
   untouched) for a time that the C library cannot show. */
bool FormatTrayTime(time_t t, char *buffer, size_t size);

#endif
