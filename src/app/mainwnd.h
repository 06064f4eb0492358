#ifndef HORAVEX_MAINWND_H
#define HORAVEX_MAINWND_H

#include <windows.h>

#define MAIN_WINDOW_TITLE "horAvex"

BOOL RegisterMainWindowClass(HINSTANCE instance);

/* Milliseconds between fetches for a period in minutes, capped at what
   SetTimer takes. */
UINT FetchPeriod(DWORD minutes);

/* The hidden main window; null when its state could not be made. */
HWND CreateMainWindow(HINSTANCE instance);

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

#endif
