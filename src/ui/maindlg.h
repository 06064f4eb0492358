#ifndef HORAVEX_MAINDLG_H
#define HORAVEX_MAINDLG_H

#include <windows.h>

#include "base/appstate.h"
#include "persist/startuplink.h"

/* 1 while the main dialog runs its modal loop: never two of them. */
extern int dialogOpen;
/* Cleared by the first main dialog of a run: autoStart acts on it only. */
extern int firstDialog;
/* The Startup shortcut's path, computed again by every main dialog. */
extern char startupLinkPath[STARTUP_LINK_PATH_SIZE];

/* Back at rest: "&Get time" and "&Close" as they were, the cursor released. */
void ResetRequestControls(HWND dialog, AppState *state);

/* The host list of the open main dialog, if one is open, into the record:
   what the end of the session saves. */
void KeepOpenDialogHosts(AppState *state);

/* Creation parameter: nonzero asks for a fetch at once. */
INT_PTR CALLBACK MainDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

#endif
