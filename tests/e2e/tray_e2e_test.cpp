#include <string>

#include "base/globals.h"
#include "base/serverlist.h"
#include "dialog.h"
#include "e2e.h"
#include "expected.h"
#include "pump.h"
#include "resource.h"
#include "timeserver.h"
#include "tray.h"
#include "ui/flyout.h"
#include "windowhelpers.h"

namespace {

const DWORD kWait = 10000;

/* Presses a mouse button on the icon, as the shell reports it, and picks
   the menu item by its key. */
bool ChooseFromTrayMenu(HoravexProcess &horavex, UINT button, char key)
{
    PostMessageA(horavex.MainWindow(), UM_TRAY, 0, button);
    HWND menu = WaitForPopupMenu(horavex.Id(), kWait);
    if (menu == NULL)
        return false;
    ChooseMenuItem(menu, key);
    return WaitUntil([&] { return !IsWindow(menu); }, kWait);
}

HWND FlyoutOf(const HoravexProcess &horavex)
{
    return WaitForWindow(FLYOUT_CLASS, NULL, horavex.Id(), kWait);
}

} // namespace

class Tray : public EndToEnd {
};

TEST_F(Tray, TheIconComesWithTheProgramAndGoesWithTheSystrayBox)
{
    TestTimeServer server(TimeReply::Now(0));
    SeedResident(server.Address());
    HoravexProcess horavex;
    HWND window = horavex.MainWindow();
    ASSERT_NE(window, (HWND)NULL);
    ASSERT_TRUE(WaitUntil([&] { return TrayIconShown(window, 0); }, kWait));
    EXPECT_TRUE(WaitUntil([] { return TrayAreaInk() > 20; }, kWait)) << "seen in the taskbar";

    ASSERT_TRUE(ChooseFromTrayMenu(horavex, WM_RBUTTONDOWN, 'p'));
    HWND dialog = WaitForDialogWith(horavex.Id(), IDC_MAIN_STARTUP, kWait);
    ASSERT_NE(dialog, (HWND)NULL);
    EXPECT_EQ(ControlText(dialog, IDC_MAIN_STATUS), "") << "Properties asks for no fetch";
    Click(dialog, IDC_MAIN_SYSTRAY);
    EXPECT_FALSE(TrayIconShown(window, 0));
    EXPECT_TRUE(WaitUntil([] { return TrayAreaInk() == 0; }, kWait)) << TrayAreaInk();
    Click(dialog, IDC_MAIN_SYSTRAY);
    EXPECT_TRUE(TrayIconShown(window, 0)) << "ticked again";
    ClickPosted(dialog, IDC_MAIN_EXIT);
    ASSERT_TRUE(horavex.WaitForExit(kWait));
    EXPECT_EQ(horavex.ExitCode(), 0u);
}

TEST_F(Tray, TheMenuOpensTheDialogWithOrWithoutAFetchAndEnds)
{
    TestTimeServer server(TimeReply::Now(0));
    SeedResident(server.Address());
    SeedNumber("attempts", 0);
    HoravexProcess horavex;
    ASSERT_NE(horavex.MainWindow(), (HWND)NULL);
    ASSERT_TRUE(server.WaitForConnections(1, kWait)) << "the quiet tick";

    ASSERT_TRUE(ChooseFromTrayMenu(horavex, WM_LBUTTONDOWN, 'g'));
    HWND dialog = WaitForDialogWith(horavex.Id(), IDC_MAIN_STARTUP, kWait);
    ASSERT_NE(dialog, (HWND)NULL);
    EXPECT_TRUE(server.WaitForConnections(2, kWait)) << "Get time ... fetches";
    ASSERT_TRUE(WaitForControlText(dialog, IDC_MAIN_GETTIME, "&Get time", kWait));
    Click(dialog, IDC_MAIN_CLOSE);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(dialog); }, kWait));
    EXPECT_TRUE(horavex.Running()) << "resident";

    ASSERT_TRUE(ChooseFromTrayMenu(horavex, WM_RBUTTONDOWN, 'x'));
    ASSERT_TRUE(horavex.WaitForExit(kWait));
    EXPECT_EQ(horavex.ExitCode(), 0u);
}

TEST_F(Tray, ANewShellGetsTheIconAgain)
{
    TestTimeServer server(TimeReply::NeverAnswer());
    SeedResident(server.Address());
    HoravexProcess horavex;
    HWND window = horavex.MainWindow();
    ASSERT_TRUE(WaitUntil([&] { return TrayIconShown(window, 0); }, kWait));
    ForgetTrayIcon(window, 0); /* as a shell that ended would */
    ASSERT_FALSE(TrayIconShown(window, 0));
    PostMessageA(window, RegisterWindowMessageA("TaskbarCreated"), 0, 0);
    EXPECT_TRUE(WaitUntil([&] { return TrayIconShown(window, 0); }, kWait));
    EXPECT_TRUE(horavex.Close());
}

/* The flyout shows the main window's title: a reading or the error. */
TEST_F(Tray, TheFlyoutShowsWhatTheTitleShows)
{
    for (TimeReply reply : {TimeReply::Now(0), TimeReply::Refused()}) {
        DeleteKeyTree(HKEY_LOCAL_MACHINE, VENDOR_KEY);
        TestTimeServer server(reply);
        SeedResident(server.Address());
        HoravexProcess horavex;
        HWND window = horavex.MainWindow();
        HWND flyout = FlyoutOf(horavex);
        ASSERT_NE(flyout, (HWND)NULL);
        EXPECT_NE(WindowText(window), "horAvex");
        EXPECT_EQ(WindowText(flyout), WindowText(window));
        EXPECT_TRUE(WaitUntil([&] { return !IsWindow(flyout); }, 6000)) << "gone by itself";
        EXPECT_TRUE(horavex.Close());
    }
}

/* The flyout takes the mouse at its start, but gives it back at its end
   only when it still holds it: a button pressed meanwhile keeps it, and
   its click counts. */
TEST_F(Tray, AFlyoutThatGoesLeavesAPressedButtonItsClick)
{
    TestTimeServer server(TimeReply::Now(0));
    SeedResident(server.Address());
    HoravexProcess horavex;
    HWND first = FlyoutOf(horavex);
    ASSERT_NE(first, (HWND)NULL);
    ASSERT_TRUE(ChooseFromTrayMenu(horavex, WM_RBUTTONDOWN, 'p'));
    HWND dialog = WaitForDialogWith(horavex.Id(), IDC_MAIN_STARTUP, kWait);
    ASSERT_NE(dialog, (HWND)NULL);
    bool autoStart = IsChecked(dialog, IDC_MAIN_AUTOSTART);

    PostMessageA(horavex.MainWindow(), WM_TIMER, 100, 0);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(first); }, kWait)) << "replaced";
    HWND flyout = FlyoutOf(horavex);
    ASSERT_NE(flyout, (HWND)NULL);
    HWND button = GetDlgItem(dialog, IDC_MAIN_AUTOSTART);
    PostMessageA(button, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, 4));
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(flyout); }, 6000));
    PostMessageA(button, WM_LBUTTONUP, 0, MAKELPARAM(4, 4));
    EXPECT_TRUE(WaitUntil([&] { return IsChecked(dialog, IDC_MAIN_AUTOSTART) != autoStart; },
                          3000)) << "the click was lost";
    ClickPosted(dialog, IDC_MAIN_EXIT);
    EXPECT_TRUE(horavex.WaitForExit(kWait));
}

/* The menu's About while an About box is open brings that one forward, and
   so does the main dialog's button: never two boxes. */
TEST_F(Tray, OneAboutBoxAtATime)
{
    TestTimeServer server(TimeReply::NeverAnswer());
    SeedResident(server.Address());
    HoravexProcess horavex;
    HWND window = horavex.MainWindow();
    ASSERT_TRUE(ChooseFromTrayMenu(horavex, WM_RBUTTONDOWN, 'p'));
    HWND dialog = WaitForDialogWith(horavex.Id(), IDC_MAIN_STARTUP, kWait);
    ASSERT_NE(dialog, (HWND)NULL);
    PostMessageA(window, WM_COMMAND, IDM_ABOUT, 0);
    HWND about = WaitForDialogWith(horavex.Id(), IDC_ABOUT_STAMP, kWait);
    ASSERT_NE(about, (HWND)NULL);
    PostMessageA(window, WM_COMMAND, IDM_ABOUT, 0);
    ClickPosted(dialog, IDC_MAIN_ABOUT);
    EXPECT_FALSE(WaitUntil([&] { return CountDialogsWith(horavex.Id(), IDC_ABOUT_STAMP) > 1; },
                           1500));
    PressEscape(about);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(about); }, kWait));
    EXPECT_EQ(CountDialogsWith(horavex.Id(), IDC_ABOUT_STAMP), 0);
    ClickPosted(dialog, IDC_MAIN_EXIT);
    EXPECT_TRUE(horavex.WaitForExit(kWait));
}
