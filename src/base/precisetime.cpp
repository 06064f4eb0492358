#include "base/precisetime.h"

#include "base/textfmt.h"

typedef VOID(WINAPI *PreciseTimeCall)(LPFILETIME);

/* Windows 8 and later read the clock to the 100 ns; earlier ones only to
   their timer's tick. */
static PreciseTimeCall PreciseTimeFunction(void)
{
    static PreciseTimeCall call;
    static bool looked;
    if (!looked) {
        HMODULE kernel = GetModuleHandleA("kernel32.dll");
        FARPROC found = kernel != NULL ? GetProcAddress(kernel, "GetSystemTimePreciseAsFileTime")
                                       : NULL;
        call = found != NULL ? reinterpret_cast<PreciseTimeCall>(reinterpret_cast<void (*)()>(found))
                             : GetSystemTimeAsFileTime;
        looked = true;
    }
    return call;
}

LONGLONG PreciseSystemTime(void)
{
    FILETIME now;
    PreciseTimeFunction()(&now);
    ULARGE_INTEGER ticks;
    ticks.LowPart = now.dwLowDateTime;
    ticks.HighPart = now.dwHighDateTime;
    return (LONGLONG)ticks.QuadPart;
}

LONGLONG MonotonicTicks(void)
{
    LARGE_INTEGER frequency;
    LARGE_INTEGER counter;
    if (!QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0
        || !QueryPerformanceCounter(&counter))
        return (LONGLONG)GetTickCount() * TICKS_PER_MS;
    /* In two parts, so that a long uptime does not overflow. */
    LONGLONG whole = counter.QuadPart / frequency.QuadPart;
    LONGLONG part = counter.QuadPart % frequency.QuadPart;
    return whole * TICKS_PER_SECOND + part * TICKS_PER_SECOND / frequency.QuadPart;
}

LONGLONG TicksToMs(LONGLONG ticks)
{
    return ticks >= 0 ? (ticks + TICKS_PER_MS / 2) / TICKS_PER_MS
                      : -((-ticks + TICKS_PER_MS / 2) / TICKS_PER_MS);
}

BOOL TicksToUtcFields(LONGLONG ticks, SYSTEMTIME *fields)
{
    if (ticks < 0)
        return FALSE;
    ULARGE_INTEGER rounded;
    rounded.QuadPart = (ULONGLONG)TicksToMs(ticks) * TICKS_PER_MS;
    FILETIME time;
    time.dwLowDateTime = rounded.LowPart;
    time.dwHighDateTime = rounded.HighPart;
    return FileTimeToSystemTime(&time, fields);
}

BOOL TicksToLocalFields(LONGLONG ticks, SYSTEMTIME *fields)
{
    SYSTEMTIME utc;
    return TicksToUtcFields(ticks, &utc) && SystemTimeToTzSpecificLocalTime(NULL, &utc, fields);
}

int FormatSignedSeconds(LONGLONG ticks, char *buffer, size_t size)
{
    if (size < 2)
        return 0;
    if (TicksToMs(ticks) < 0)
        return FormatSeconds(ticks, buffer, size);
    buffer[0] = '+';
    return FormatSeconds(ticks, buffer + 1, size - 1) + 1;
}

LONGLONG ClockReadingPrecision(void)
{
    static LONGLONG precision;
    if (precision != 0)
        return precision;
    LONGLONG smallest = 0;
    for (int tries = 0; tries < 3; tries++) {
        LONGLONG start = PreciseSystemTime();
        LONGLONG next = start;
        for (int reads = 0; reads < 1000000 && next == start; reads++)
            next = PreciseSystemTime();
        LONGLONG step = next - start;
        if (step > 0 && (smallest == 0 || step < smallest))
            smallest = step;
    }
    precision = smallest > 0 ? smallest : 1;
    return precision;
}

int FormatSeconds(LONGLONG ticks, char *buffer, size_t size)
{
    LONGLONG ms = TicksToMs(ticks);
    unsigned long long magnitude = ms < 0 ? 0ULL - (unsigned long long)ms : (unsigned long long)ms;
    return FormatText(buffer, size, "%s%llu.%03llu", ms < 0 ? "-" : "", magnitude / 1000,
                      magnitude % 1000);
}
