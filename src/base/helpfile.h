#ifndef HORAVEX_BASE_HELPFILE_H
#define HORAVEX_BASE_HELPFILE_H

#include <stddef.h>

/* The help file beside the running executable: started from a shortcut
   or the Startup folder, the current folder is not the program's.  Falls
   back to the bare name when the path does not fit. */
const char *HelpFilePath(char *buffer, size_t size);

#endif
