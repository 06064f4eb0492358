#ifndef HORAVEX_ABOUT_H
#define HORAVEX_ABOUT_H

#include <windows.h>

/* The About box, modal to owner; while one is open, a second request
   brings that one forward instead. */
void ShowAboutBox(HWND owner);

INT_PTR CALLBACK AboutDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

/* Link colours: blue, and magenta while the link is held down. */
#define LINK_COLOUR RGB(0, 0, 255)
#define PRESSED_LINK_COLOUR RGB(255, 0, 255)

/* Draws a link button's caption in the dialog's font; every setting of
   the DC is put back. */
void DrawLink(HWND dialog, const DRAWITEMSTRUCT *item);

#endif
