#include "base/stringlist.h"

#include <stdlib.h>
#include <string.h>

char *StringListAdd(StringList *list, const char *text)
{
    char *copy = strdup(text);
    if (copy == NULL)
        return NULL;
    size_t slots = (size_t)list->itemCount + 1;
    char **items = (char **)realloc(list->items, slots * sizeof *items);
    if (items == NULL) {
        free(copy);
        return NULL;
    }
    items[list->itemCount] = copy;
    list->items = items;
    list->itemCount++;
    return copy;
}

void StringListClear(StringList *list)
{
    if (list->items != NULL) {
        for (int i = 0; i < list->itemCount; i++)
            free(list->items[i]);
        free(list->items);
    }
    list->itemCount = 0;
    list->items = NULL;
}

char *ReplaceString(char *current, const char *text)
{
    char *copy = strdup(text);
    if (copy == NULL)
        return current;
    free(current);
    return copy;
}
