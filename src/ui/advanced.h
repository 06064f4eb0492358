#ifndef HORAVEX_ADVANCED_H
#define HORAVEX_ADVANCED_H

#include <windows.h>

/* The file-open dialog for a log file: fileName (size characters) holds
   the proposed name and receives the chosen path; null when cancelled. */
char *ChooseLogFile(HWND owner, const char *title, const char *filters, char *fileName,
                    DWORD size, const char *initialDir, DWORD flags);

/* Creation parameter: the AppState. */
INT_PTR CALLBACK AdvancedDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

#endif
