#ifndef HORAVEX_BASE_GLOBALS_H
#define HORAVEX_BASE_GLOBALS_H

#include <windows.h>

#define MAIN_WINDOW_CLASS "qvx-horavex"
#define HELP_FILE "horavex.hlp"

/* Private messages of the main window and the main dialog. */
#define UM_SOCKET (WM_USER + 2)
#define UM_OPENDIALOG (WM_USER + 3)
#define UM_TRAY (WM_USER + 4)
/* Work of a request beside the window is done: its name lookup, or the
   time service's answer (wParam: the work's tag). */
#define UM_JOBDONE (WM_USER + 5)

#define TEXT_BUFFER_SIZE 512

/* Which window's ApplyTime a flag of applyingTime guards. */
enum { APPLY_MAIN_WINDOW, APPLY_MAIN_DIALOG, APPLY_OWNERS };

extern HWND mainWindow;
extern HINSTANCE appInstance;
extern char textBuffer[TEXT_BUFFER_SIZE];
extern int applyingTime[APPLY_OWNERS];

#endif
