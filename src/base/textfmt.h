#ifndef HORAVEX_TEXTFMT_H
#define HORAVEX_TEXTFMT_H

#include <stdarg.h>
#include <stddef.h>

#if defined(__GNUC__)
#define HORAVEX_PRINTF(formatIndex, firstArg) \
    __attribute__((format(gnu_printf, formatIndex, firstArg)))
#else
#define HORAVEX_PRINTF(formatIndex, firstArg)
#endif

/* printf into buffer of size characters, terminator included; a longer text
   is cut to fit.  Returns the number of characters stored. */
int FormatText(char *buffer, size_t size, const char *format, ...) HORAVEX_PRINTF(3, 4);
int FormatTextV(char *buffer, size_t size, const char *format, va_list args);

/* Control characters (tab, carriage return, line feed, ...) have no place
   in a host name, a log field or a title. */
bool HasControlCharacter(const char *text);
/* Copies text (cut to fit) with every control character replaced by '?'. */
void CopyPrintable(char *buffer, size_t size, const char *text);

/* Two host names are one when they differ at most in the letter case of
   ASCII letters; every other byte counts as it is (no language's rules:
   "maß" is not "mass"). */
bool SameHostName(const char *one, const char *other);

#endif
