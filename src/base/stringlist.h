#ifndef HORAVEX_STRINGLIST_H
#define HORAVEX_STRINGLIST_H

#include "base/appstate.h"

/* Appends a copy of text; null when memory ran out (the list is unchanged). */
char *StringListAdd(StringList *list, const char *text);

void StringListClear(StringList *list);

/* What the caller stores in place of current: a copy of text, or current
   itself when the copy cannot be made. */
char *ReplaceString(char *current, const char *text);

#endif
