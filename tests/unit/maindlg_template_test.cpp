#include <gtest/gtest.h>

#include <string>

#include "resource.h"

namespace {

INT_PTR CALLBACK BareDialogProc(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

struct ControlRow {
    int id;
    const char *className;
    const char *text; /* null: not checked */
    LONG kind;        /* BS_ or SS_ type, within the class's type mask */
    LONG flags;       /* further styles that must be set */
    int x, y, width, height; /* dialog units; height 0: not checked */
};

const ControlRow kMainDialog[] = {
    {-1, "Static", "Host:", SS_RIGHT, WS_GROUP, 15, 7, 28, 8},
    {IDC_MAIN_HOST, "ComboBox", NULL, CBS_DROPDOWN,
     CBS_SORT | CBS_AUTOHSCROLL | WS_TABSTOP, 49, 5, 109, 0},
    {-1, "Static", "Timezone:", SS_RIGHT, WS_GROUP, 10, 25, 34, 8},
    {IDC_MAIN_ZONE, "Static", "---", SS_LEFT, WS_GROUP, 50, 25, 107, 8},
    {-1, "Static", "", SS_ETCHEDFRAME, 0, 5, 45, 155, 32},
    {IDC_MAIN_AUTOSTART, "Button", "&Auto Start", BS_AUTOCHECKBOX, WS_TABSTOP, 15, 49, 54, 12},
    {IDC_MAIN_AUTOCLOSE, "Button", "Auto C&lose", BS_AUTOCHECKBOX, WS_TABSTOP, 15, 61, 54, 12},
    {IDC_MAIN_REPORTONLY, "Button", "&Report only", BS_AUTOCHECKBOX, WS_TABSTOP, 87, 49, 54, 12},
    {IDC_MAIN_SYSTRAY, "Button", "&Systray Icon", BS_AUTOCHECKBOX, WS_TABSTOP, 87, 61, 54, 12},
    {-1, "Static", "", SS_ETCHEDFRAME, 0, 5, 85, 155, 50},
    {IDC_MAIN_STATUS, "Static", "", SS_LEFT, WS_GROUP, 40, 90, 114, 8},
    {-1, "Static", "Time:", SS_RIGHT, WS_GROUP, 9, 100, 21, 8},
    {IDC_MAIN_TIME, "Static", "", SS_LEFT, WS_GROUP, 40, 100, 114, 8},
    {-1, "Static", "Diff:", SS_RIGHT, WS_GROUP, 9, 110, 21, 8},
    {IDC_MAIN_DIFF, "Static", "", SS_LEFT, WS_GROUP, 40, 110, 114, 8},
    {-1, "Static", "Lag:", SS_RIGHT, WS_GROUP, 10, 120, 21, 8},
    {IDC_MAIN_LAG, "Static", "", SS_LEFT, WS_GROUP, 40, 120, 114, 8},
    {IDC_MAIN_GETTIME, "Button", "&Get time", BS_DEFPUSHBUTTON, WS_TABSTOP, 170, 5, 55, 14},
    {IDC_MAIN_ADVANCED, "Button", "Ad&vanced ...", BS_PUSHBUTTON, WS_TABSTOP, 170, 25, 55, 14},
    {IDC_MAIN_ABOUT, "Button", "&About", BS_PUSHBUTTON, WS_TABSTOP, 170, 45, 55, 14},
    {IDC_MAIN_HELP, "Button", "&Help", BS_PUSHBUTTON, WS_TABSTOP, 170, 65, 55, 14},
    {-1, "Static", NULL, SS_ICON, 0, 185, 89, 0, 0},
    {IDC_MAIN_CLOSE, "Button", "&Close", BS_PUSHBUTTON, WS_TABSTOP, 170, 119, 55, 14},
    {IDC_MAIN_EXIT, "Button", "E&xit", BS_PUSHBUTTON, WS_TABSTOP, 5, 140, 55, 14},
    {-1, "Static", "Date:", SS_RIGHT, WS_GROUP, 9, 90, 21, 8},
    {IDC_MAIN_STARTUP, "Button", "Add to startup", BS_AUTOCHECKBOX, WS_TABSTOP, 165, 144, 60, 10},
    {IDC_MAIN_SOURCES, "Static", "", SS_LEFT, WS_GROUP, 64, 139, 98, 18},
};

LONG TypeMask(const char *className)
{
    if (lstrcmpiA(className, "Button") == 0)
        return BS_TYPEMASK;
    if (lstrcmpiA(className, "Static") == 0)
        return SS_TYPEMASK;
    return CBS_DROPDOWNLIST;
}

} // namespace

/* Each control in tab order, with the class, text, styles and place the
   dialog procedure and the user rely on. */
TEST(MainDialogTemplate, HoldsEveryControlInOrderWithItsStylesAndPlace)
{
    HWND dialog = CreateDialogParamA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDD_MAIN), NULL,
                                     BareDialogProc, 0);
    ASSERT_NE(dialog, (HWND)NULL);
    char text[256];
    GetWindowTextA(dialog, text, sizeof text);
    EXPECT_STREQ(text, "Horavex");
    LONG style = GetWindowLongA(dialog, GWL_STYLE);
    LONG dialogStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    EXPECT_EQ(style & dialogStyle, dialogStyle);
    RECT client, expected = {0, 0, 232, 161};
    GetClientRect(dialog, &client);
    MapDialogRect(dialog, &expected);
    EXPECT_EQ(client.right, expected.right);
    EXPECT_EQ(client.bottom, expected.bottom);
    LOGFONTA font;
    GetObjectA((HFONT)SendMessageA(dialog, WM_GETFONT, 0, 0), sizeof font, &font);
    EXPECT_STREQ(font.lfFaceName, "MS Sans Serif");

    HWND child = GetWindow(dialog, GW_CHILD);
    for (const ControlRow &row : kMainDialog) {
        ASSERT_NE(child, (HWND)NULL) << "missing from id " << row.id;
        SCOPED_TRACE(row.text != NULL ? row.text : "icon");
        if (row.id != -1) {
            EXPECT_EQ(GetDlgCtrlID(child), row.id);
        }
        GetClassNameA(child, text, sizeof text);
        EXPECT_EQ(lstrcmpiA(text, row.className), 0) << text;
        if (row.text != NULL) {
            GetWindowTextA(child, text, sizeof text);
            EXPECT_STREQ(text, row.text);
        }
        LONG childStyle = GetWindowLongA(child, GWL_STYLE);
        EXPECT_EQ(childStyle & TypeMask(row.className), row.kind);
        LONG flags = row.flags | WS_CHILD | WS_VISIBLE;
        EXPECT_EQ(childStyle & flags, flags);
        RECT place = {row.x, row.y, row.width, row.height}, actual;
        MapDialogRect(dialog, &place);
        GetWindowRect(child, &actual);
        MapWindowPoints(NULL, dialog, (POINT *)&actual, 2);
        EXPECT_EQ(actual.left, place.left);
        EXPECT_EQ(actual.top, place.top);
        if (row.width != 0) {
            EXPECT_EQ(actual.right - actual.left, place.right);
        }
        if (row.height != 0) {
            EXPECT_EQ(actual.bottom - actual.top, place.bottom);
        }
        child = GetWindow(child, GW_HWNDNEXT);
    }
    EXPECT_EQ(child, (HWND)NULL) << "no further controls";
    DestroyWindow(dialog);
}
