#include "app/globals.h"

HWND mainWindow;
HINSTANCE appInstance;
char textBuffer[TEXT_BUFFER_SIZE];
HMENU trayMenu;
int dialogOpen;
int applyingTime[APPLY_OWNERS];
int firstDialog = 1;
struct sockaddr_in serverAddress;
char startupLinkPath[STARTUP_LINK_PATH_SIZE];
