#ifndef HORAVEX_TEST_TRAY_H
#define HORAVEX_TEST_TRAY_H

#include <windows.h>

/* The notification area as the shell of the test desktop shows it. */

/* True while the shell holds the icon (a change of nothing succeeds). */
bool TrayIconShown(HWND window, UINT id);

/* Removes the icon from the shell, as a shell that ends loses it. */
void ForgetTrayIcon(HWND window, UINT id);

/* Pixels of the notification area (the taskbar's right end) that are not
   the taskbar's own colour: none without an icon. */
int TrayAreaInk();

/* The popup menu ("#32768") open in the process, waited for. */
HWND WaitForPopupMenu(DWORD processId, DWORD timeoutMs);

/* Chooses a menu item by its mnemonic, as a key press would. */
void ChooseMenuItem(HWND menu, char key);

#endif
