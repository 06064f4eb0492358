#ifndef HORAVEX_FLYOUT_H
#define HORAVEX_FLYOUT_H

#include <windows.h>

#define FLYOUT_CLASS "quillmoor-flyout"
#define FLYOUT_TITLE_SIZE 512

BOOL RegisterFlyoutClass(HINSTANCE instance);

/* Shows the owner's title for about three seconds at the top-left corner,
   in place of any earlier flyout. */
HWND ShowFlyout(HWND owner);

LRESULT CALLBACK FlyoutWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

/* The flyout's font: Arial, its cell the caption's height less 5. */
HFONT CreateFlyoutFont(void);

/* The outer size that fits text drawn in font into dc. */
SIZE FlyoutSizeFor(HDC dc, HFONT font, const char *text);

#endif
