#include <gtest/gtest.h>

#include <string>

#include "base/globals.h"
#include "pump.h"
#include "ui/flyout.h"
#include "windowhelpers.h"

namespace {

/* An owner whose title the flyout shows, which has the focus. */
class Flyout : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegisterFlyoutClass(GetModuleHandleA(NULL));
        owner = CreateWindowExA(0, "Static", "", WS_POPUP | WS_VISIBLE, 300, 300, 200, 50, NULL,
                                NULL, GetModuleHandleA(NULL), NULL);
        SetForegroundWindow(owner);
        SetFocus(owner);
        PumpPending();
    }
    void TearDown() override
    {
        DestroyWindow(owner);
        PumpPending();
    }

    HWND Show(const char *title)
    {
        SetWindowTextA(owner, title);
        return ShowFlyout(owner);
    }

    /* The outer size the text asks for, measured as the flyout measures. */
    static SIZE Wanted(const char *text)
    {
        HDC dc = CreateCompatibleDC(NULL);
        HFONT font = CreateFlyoutFont();
        SIZE wanted = FlyoutSizeFor(dc, font, text);
        DeleteObject(font);
        DeleteDC(dc);
        return wanted;
    }

    HWND owner = NULL;
};

SIZE OuterSize(HWND window)
{
    RECT frame;
    GetWindowRect(window, &frame);
    SIZE size = {frame.right - frame.left, frame.bottom - frame.top};
    return size;
}

} // namespace

TEST_F(Flyout, ShowsTheOwnersTitleAtTheCornerSizedToItAndGoesAfterThreeTicks)
{
    const char title[] = "10:42:17 AM";
    HWND flyout = Show(title);
    ASSERT_NE(flyout, (HWND)NULL);
    SIZE wanted = Wanted(title);
    EXPECT_EQ(wanted.cy, GetSystemMetrics(SM_CYCAPTION));
    ASSERT_TRUE(PumpUntil([&] {
        SIZE size = OuterSize(flyout);
        return size.cx == wanted.cx && size.cy == wanted.cy;
    }, 2000)) << OuterSize(flyout).cx << "x" << OuterSize(flyout).cy << " for " << wanted.cx;
    EXPECT_EQ(WindowText(flyout), title);
    RECT frame;
    GetWindowRect(flyout, &frame);
    EXPECT_EQ(frame.left, 0);
    EXPECT_EQ(frame.top, 0);
    EXPECT_TRUE(GetWindowLongA(flyout, GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_EQ(GetWindow(flyout, GW_OWNER), owner);
    EXPECT_EQ(GetFocus(), owner) << "the focus stays where it was";
    EXPECT_NE(GetActiveWindow(), flyout);
    DWORD shown = GetTickCount();
    ASSERT_TRUE(PumpUntil([&] { return !IsWindow(flyout); }, 5000));
    EXPECT_GE(GetTickCount() - shown, 2000u);
}

TEST_F(Flyout, ANewerResultReplacesTheOlderAtOnce)
{
    HWND first = Show("first");
    HWND second = Show("second");
    EXPECT_FALSE(IsWindow(first));
    ASSERT_TRUE(IsWindow(second));
    EXPECT_EQ(FindWindowA(FLYOUT_CLASS, NULL), second);
    EXPECT_EQ(WindowText(second), "second");
    PumpUntil([&] { return !IsWindow(second); }, 5000);
}

/* A size that cannot be had (none for an empty title) is drawn in, not
   asked for again on every paint. */
TEST_F(Flyout, AnEmptyTitleEndsInNoEndlessPainting)
{
    HWND flyout = Show("");
    ASSERT_NE(flyout, (HWND)NULL);
    PumpUntil([] { return false; }, 300);
    RECT pending;
    EXPECT_FALSE(GetUpdateRect(flyout, &pending, FALSE)) << "no paint still due";
    DestroyWindow(flyout);
}
