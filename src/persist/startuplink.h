#ifndef HORAVEX_STARTUPLINK_H
#define HORAVEX_STARTUPLINK_H

#include <windows.h>

#define STARTUP_LINK_PATH_SIZE (MAX_PATH + 1)
#define STARTUP_LINK_NAME "\\Horavex.lnk"

/* Fills path (STARTUP_LINK_PATH_SIZE characters) with the shortcut's path
   in the user's Startup folder.  False when there is none: the folder is
   unknown, or the path would not fit (the buffer then holds an empty
   text), or the folder key cannot be opened (the buffer is left alone). */
bool GetStartupLinkPath(char *path);

/* Saves a shell link at linkPath to target; true when it was saved. */
bool CreateShortcut(const char *linkPath, const char *target, const char *description);

/* True when a file (or folder) exists at path. */
bool FileExists(const char *path);

#endif
