#include "base/appstate.h"

AppState *AppStateOf(HWND window)
{
    return (AppState *)GetWindowLongPtrA(window, 0);
}

const char *TextOrEmpty(const char *text)
{
    return text != NULL ? text : "";
}
