#ifndef HORAVEX_ABOUT_H
#define HORAVEX_ABOUT_H

#include <windows.h>

INT_PTR CALLBACK AboutDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

#endif
