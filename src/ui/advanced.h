#ifndef HORAVEX_ADVANCED_H
#define HORAVEX_ADVANCED_H

#include <windows.h>

/* Creation parameter: the AppState. */
INT_PTR CALLBACK AdvancedDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

#endif
