#include "ui/about.h"

/* The About box's template is not there yet, so the box never opens;
   this only ends it. */
INT_PTR CALLBACK AboutDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;
    if (message == WM_INITDIALOG)
        return TRUE;
    if (message == WM_COMMAND) {
        (void)wParam;
        EndDialog(dialog, 0);
        return TRUE;
    }
    return FALSE;
}
