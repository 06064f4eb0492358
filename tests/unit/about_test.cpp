#include <gtest/gtest.h>

#include "base/globals.h"
#include "resource.h"
#include "ui/about.h"

namespace {

/* The real About box, made modeless in this process. */
class AboutBox : public ::testing::Test {
protected:
    void SetUp() override
    {
        appInstance = GetModuleHandleA(NULL);
        probe = CreateWindowA("Button", "", WS_POPUP, 0, 0, 1, 1, NULL, NULL, appInstance, NULL);
        before = GetClassLongPtrA(probe, GCLP_HCURSOR);
        box = CreateDialogParamA(appInstance, MAKEINTRESOURCEA(IDD_ABOUT), NULL, AboutDlgProc, 0);
        ASSERT_NE(box, (HWND)NULL);
    }
    void TearDown() override { DestroyWindow(probe); }

    /* Counts the pixels of a colour in a link drawn with the given state. */
    int DrawnInColour(UINT action, UINT state, COLORREF colour)
    {
        HDC screen = GetDC(NULL);
        HDC dc = CreateCompatibleDC(screen);
        HBITMAP bitmap = CreateCompatibleBitmap(screen, 200, 20);
        ReleaseDC(NULL, screen);
        HGDIOBJ keptBitmap = SelectObject(dc, bitmap);
        PatBlt(dc, 0, 0, 200, 20, WHITENESS);
        COLORREF keptText = GetTextColor(dc);
        HGDIOBJ keptFont = GetCurrentObject(dc, OBJ_FONT);
        DRAWITEMSTRUCT item = {};
        item.CtlType = ODT_BUTTON;
        item.itemAction = action;
        item.itemState = state;
        item.hwndItem = GetDlgItem(box, IDC_ABOUT_WEB);
        item.hDC = dc;
        item.rcItem = {0, 0, 200, 20};
        DrawLink(box, &item);
        EXPECT_EQ(GetTextColor(dc), keptText) << "the colour is put back";
        EXPECT_EQ(GetCurrentObject(dc, OBJ_FONT), keptFont) << "the font is put back";
        int count = 0;
        for (int y = 0; y < 20; y++)
            for (int x = 0; x < 200; x++)
                count += GetPixel(dc, x, y) == colour ? 1 : 0;
        SelectObject(dc, keptBitmap);
        DeleteObject(bitmap);
        DeleteDC(dc);
        return count;
    }

    HWND probe = NULL;
    HWND box = NULL;
    ULONG_PTR before = 0;
};

} // namespace

TEST_F(AboutBox, DrawsItsLinksBlueAndMagentaWhilePressed)
{
    EXPECT_GT(DrawnInColour(ODA_DRAWENTIRE, 0, LINK_COLOUR), 0);
    EXPECT_EQ(DrawnInColour(ODA_DRAWENTIRE, 0, PRESSED_LINK_COLOUR), 0);
    EXPECT_GT(DrawnInColour(ODA_SELECT, ODS_SELECTED, PRESSED_LINK_COLOUR), 0);
    EXPECT_EQ(DrawnInColour(ODA_SELECT, 0, PRESSED_LINK_COLOUR), 0) << "released";
    EXPECT_EQ(DrawnInColour(ODA_FOCUS, ODS_SELECTED, PRESSED_LINK_COLOUR), 0) << "no press";
    DestroyWindow(box);
}

TEST_F(AboutBox, ShowsTheHandOverItsLinksAndPutsTheButtonCursorBack)
{
    EXPECT_EQ(GetClassLongPtrA(probe, GCLP_HCURSOR), 0u) << "no class cursor while open";
    HCURSOR hand = LoadCursorA(appInstance, MAKEINTRESOURCEA(IDCUR_LINK));
    for (int link : {IDC_ABOUT_MAIL, IDC_ABOUT_WEB}) {
        SendMessageA(box, WM_SETCURSOR, (WPARAM)GetDlgItem(box, link), HTCLIENT);
        EXPECT_EQ(GetCursor(), hand) << link;
    }
    SendMessageA(box, WM_SETCURSOR, (WPARAM)GetDlgItem(box, IDC_ABOUT_OK), HTCLIENT);
    EXPECT_EQ(GetCursor(), LoadCursorA(NULL, (LPCSTR)IDC_ARROW));
    DestroyWindow(box);
    EXPECT_EQ(GetClassLongPtrA(probe, GCLP_HCURSOR), before);
}
