#ifndef HORAVEX_TEST_DIALOG_H
#define HORAVEX_TEST_DIALOG_H

#include <windows.h>

#include <string>
#include <vector>

/* Driving another process's dialog from outside, as a person would. */

/* A visible dialog ("#32770") of the process that holds the control,
   waited for. */
HWND WaitForDialogWith(DWORD processId, int controlId, DWORD timeoutMs);

/* The visible dialogs of the process that hold the control, now. */
int CountDialogsWith(DWORD processId, int controlId);

std::string ControlText(HWND dialog, int id);
void SetControlText(HWND dialog, int id, const std::string &text);
/* A click on a button or check box, handled before it returns unless it
   opens a box (then after 1 s). */
void Click(HWND dialog, int id);
/* The same click dispatched by the dialog's own loop, as a real one is: a
   message that its handler posts survives the dialog's end (a modal loop
   drops what it fetches after EndDialog). */
void ClickPosted(HWND dialog, int id);
bool IsChecked(HWND dialog, int id);
bool IsEnabled(HWND dialog, int id);

/* Until the control's text equals text; false on time-out. */
bool WaitForControlText(HWND dialog, int id, const std::string &text, DWORD timeoutMs);

/* The entries of a combo box, read as wide text (an ANSI CB_GETLBTEXT
   from another process comes back wide). */
std::vector<std::string> ComboEntries(HWND dialog, int id);
/* Replaces the text of a combo box's edit field as typing would: the
   combo box reports CBN_EDITCHANGE. */
void TypeIntoCombo(HWND dialog, int id, const std::string &text);
/* The same for an edit field (it reports EN_UPDATE and EN_CHANGE). */
void TypeIntoEdit(HWND dialog, int id, const std::string &text);

/* Presses Escape in the dialog. */
void PressEscape(HWND dialog);

#endif
