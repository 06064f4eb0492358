#include "base/textfmt.h"

#include <stdio.h>

int FormatTextV(char *buffer, size_t size, const char *format, va_list args)
{
    if (size == 0)
        return 0;
    int wanted = vsnprintf(buffer, size, format, args);
    buffer[size - 1] = '\0';
    if (wanted < 0) {
        buffer[0] = '\0';
        return 0;
    }
    return (size_t)wanted < size ? wanted : (int)(size - 1);
}

int FormatText(char *buffer, size_t size, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int stored = FormatTextV(buffer, size, format, args);
    va_end(args);
    return stored;
}

static bool IsControlCharacter(char c)
{
    return (unsigned char)c < 0x20 || c == 0x7F;
}

bool HasControlCharacter(const char *text)
{
    for (; *text != '\0'; text++)
        if (IsControlCharacter(*text))
            return true;
    return false;
}

void CopyPrintable(char *buffer, size_t size, const char *text)
{
    if (size == 0)
        return;
    size_t i = 0;
    for (; i + 1 < size && text[i] != '\0'; i++)
        buffer[i] = IsControlCharacter(text[i]) ? '?' : text[i];
    buffer[i] = '\0';
}

static char AsciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c;
}

bool SameHostName(const char *one, const char *other)
{
    for (; *one != '\0' && *other != '\0'; one++, other++)
        if (AsciiLower(*one) != AsciiLower(*other))
            return false;
    return *one == *other;
}
