#include "base/globals.h"

HWND mainWindow;
HINSTANCE appInstance;
char textBuffer[TEXT_BUFFER_SIZE];
int applyingTime[APPLY_OWNERS];
