#include "ui/flyout.h"

#include <string.h>

BOOL RegisterFlyoutClass(HINSTANCE instance)
{
    WNDCLASSA windowClass;
    memset(&windowClass, 0, sizeof windowClass);
    windowClass.style = CS_SAVEBITS;
    windowClass.lpfnWndProc = FlyoutWndProc;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = (HBRUSH)(COLOR_INFOBK + 1);
    windowClass.lpszClassName = FLYOUT_CLASS;
    return RegisterClassA(&windowClass) != 0;
}

/* The notice itself comes later: the result shows in the owner's title. */
HWND ShowFlyout(HWND owner)
{
    (void)owner;
    return NULL;
}

LRESULT CALLBACK FlyoutWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(window, message, wParam, lParam);
}
