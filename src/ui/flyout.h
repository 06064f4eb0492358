#ifndef HORAVEX_FLYOUT_H
#define HORAVEX_FLYOUT_H

#include <windows.h>

#define FLYOUT_CLASS "quillmoor-flyout"

BOOL RegisterFlyoutClass(HINSTANCE instance);

/* Shows the owner's title for a few seconds at the top-left corner. */
HWND ShowFlyout(HWND owner);

LRESULT CALLBACK FlyoutWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

#endif
