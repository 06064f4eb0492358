#ifndef HORAVEX_MAINWND_H
#define HORAVEX_MAINWND_H

#include <windows.h>

#define MAIN_WINDOW_TITLE "horAvex"

BOOL RegisterMainWindowClass(HINSTANCE instance);

/* The hidden main window; null when its state could not be made. */
HWND CreateMainWindow(HINSTANCE instance);

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

#endif
