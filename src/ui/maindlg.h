#ifndef HORAVEX_MAINDLG_H
#define HORAVEX_MAINDLG_H

#include <windows.h>

INT_PTR CALLBACK MainDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

#endif
