#include "ui/flyout.h"

#include <string.h>

#include "base/globals.h"

#define FLYOUT_TIMER_ID 1
#define FLYOUT_TICK_MS 1000
#define FLYOUT_TICKS 3
#define FONT_CELL_LESS_THAN_CAPTION 5

/* One flyout at a time, so one set of state. */
static char flyoutTitle[FLYOUT_TITLE_SIZE];
static int flyoutTicks;
static HFONT flyoutFont;
/* Set once the window has asked for its size: a size that did not come
   (refused, or none to ask for) is drawn in as it is, not asked for again
   and again. */
static bool flyoutSizeAsked;

BOOL RegisterFlyoutClass(HINSTANCE instance)
{
    WNDCLASSA windowClass;
    memset(&windowClass, 0, sizeof windowClass);
    windowClass.style = CS_SAVEBITS;
    windowClass.lpfnWndProc = FlyoutWndProc;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = (HBRUSH)(COLOR_INFOBK + 1);
    windowClass.lpszClassName = FLYOUT_CLASS;
    return RegisterClassA(&windowClass) != 0;
}

HWND ShowFlyout(HWND owner)
{
    HWND earlier = FindWindowA(FLYOUT_CLASS, NULL);
    if (earlier != NULL)
        DestroyWindow(earlier);
    GetWindowTextA(owner, flyoutTitle, sizeof flyoutTitle);
    HINSTANCE instance = (HINSTANCE)GetWindowLongPtrA(owner, GWLP_HINSTANCE);
    HWND flyout = CreateWindowExA(0, FLYOUT_CLASS, flyoutTitle, WS_POPUP | WS_BORDER, 0, 0, 1, 1,
                                  owner, NULL, instance, owner);
    if (flyout == NULL)
        return NULL;
    /* Sized to its text at once: one pixel within a border leaves no client
       area, and a window without one is never asked to paint. */
    HDC dc = GetDC(flyout);
    SIZE wanted = FlyoutSizeFor(dc, flyoutFont, flyoutTitle);
    ReleaseDC(flyout, dc);
    SetWindowPos(flyout, HWND_TOPMOST, 0, 0, wanted.cx, wanted.cy, SWP_NOMOVE | SWP_NOACTIVATE);
    return flyout;
}

HFONT CreateFlyoutFont(void)
{
    LOGFONTA font;
    memset(&font, 0, sizeof font);
    font.lfHeight = GetSystemMetrics(SM_CYCAPTION) - FONT_CELL_LESS_THAN_CAPTION;
    lstrcpynA(font.lfFaceName, "Arial", sizeof font.lfFaceName);
    return CreateFontIndirectA(&font);
}

SIZE FlyoutSizeFor(HDC dc, HFONT font, const char *text)
{
    HGDIOBJ kept = SelectObject(dc, font);
    SIZE extent = {0, 0};
    GetTextExtentPoint32A(dc, text, (int)strlen(text), &extent);
    SelectObject(dc, kept);
    SIZE wanted = {extent.cx * 10 / 9, GetSystemMetrics(SM_CYCAPTION)};
    return wanted;
}

static void OnCreate(HWND window)
{
    flyoutTicks = 0;
    flyoutSizeAsked = false;
    SetCapture(window);
    flyoutFont = CreateFlyoutFont();
    ShowWindow(window, SW_SHOWNOACTIVATE);
    SetTimer(window, FLYOUT_TIMER_ID, FLYOUT_TICK_MS, NULL);
}

static void DrawFlyoutText(HDC dc, const char *text, int width, int height)
{
    HGDIOBJ kept = SelectObject(dc, flyoutFont);
    int keptMode = SetBkMode(dc, TRANSPARENT);
    COLORREF keptColour = SetTextColor(dc, GetSysColor(COLOR_INFOTEXT));
    RECT area = {0, 0, width, height};
    DrawTextA(dc, text, -1, &area, DT_SINGLELINE | DT_VCENTER | DT_CENTER);
    SetTextColor(dc, keptColour);
    SetBkMode(dc, keptMode);
    SelectObject(dc, kept);
}

/* The first paint sizes the window to its text, the next one draws it. */
static void OnPaint(HWND window)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    if (dc != NULL) {
        GetWindowTextA(window, textBuffer, TEXT_BUFFER_SIZE);
        SIZE wanted = FlyoutSizeFor(dc, flyoutFont, textBuffer);
        RECT frame;
        GetWindowRect(window, &frame);
        int width = frame.right - frame.left;
        int height = frame.bottom - frame.top;
        if ((width == wanted.cx && height == wanted.cy) || flyoutSizeAsked) {
            DrawFlyoutText(dc, textBuffer, width, height);
        } else {
            flyoutSizeAsked = true;
            SetWindowPos(window, NULL, frame.left, frame.top, wanted.cx, wanted.cy,
                         SWP_NOZORDER | SWP_NOACTIVATE);
            InvalidateRect(window, NULL, TRUE);
        }
    }
    EndPaint(window, &paint);
}

static void OnTick(HWND window)
{
    if (++flyoutTicks == FLYOUT_TICKS)
        SendMessageA(window, WM_CLOSE, 0, 0);
}

static void OnDestroy(HWND window)
{
    if (flyoutFont != NULL) {
        DeleteObject(flyoutFont);
        flyoutFont = NULL;
    }
    /* The capture may be a menu's or a pressed button's by now. */
    if (GetCapture() == window)
        ReleaseCapture();
    KillTimer(window, FLYOUT_TIMER_ID);
}

LRESULT CALLBACK FlyoutWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        OnCreate(window);
        return 0;
    case WM_PAINT:
        OnPaint(window);
        return 0;
    case WM_TIMER:
        OnTick(window);
        return 0;
    case WM_DESTROY:
        OnDestroy(window);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
