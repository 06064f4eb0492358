#include <functional>
#include <string>

#include "base/globals.h"
#include "dialog.h"
#include "e2e.h"
#include "pump.h"
#include "resource.h"
#include "timeserver.h"
#include "windowhelpers.h"

/* The mouse pointer and the cursor are the desktop's: these cases run
   alone. */

namespace {

void MoveMouseOver(HWND control)
{
    RECT area;
    GetWindowRect(control, &area);
    SetCursorPos((area.left + area.right) / 2, (area.top + area.bottom) / 2);
}

HCURSOR ShownCursor()
{
    CURSORINFO shown = {};
    shown.cbSize = sizeof shown;
    return GetCursorInfo(&shown) ? shown.hCursor : NULL;
}

const DWORD kWait = 10000;

/* Moves the mouse to and fro over two fields of the dialog (each move asks
   the dialog for a cursor again) until the cursor shown passes the test. */
bool CursorBecomes(HWND dialog, const std::function<bool(HCURSOR)> &test, DWORD timeoutMs)
{
    int moves = 0;
    return WaitUntil([&] {
        MoveMouseOver(GetDlgItem(dialog, moves++ % 2 ? IDC_MAIN_ZONE : IDC_MAIN_TIME));
        return test(ShownCursor());
    }, timeoutMs);
}

} // namespace

class Cursor : public EndToEnd {
};

/* The busy cursor shows over the whole dialog, its controls included,
   while a request runs, also one of the main window; not afterwards, also
   when that request ended without releasing it. */
TEST_F(Cursor, TheBusyCursorShowsOnlyWhileARequestRuns)
{
    /* Replies cut short end the requests without a reading or a flyout,
       whose mouse capture would keep the cursor as it is. */
    TestTimeServer server(TimeReply::Now(0).Bytes(3).Delays({0, 1500}));
    SeedText("host", server.Address());
    SeedNumber("autoStart", 0);
    SeedNumber("attempts", 0);
    SeedNumber("sysTray", 1);
    SeedNumber("quiet", 1);
    HoravexProcess horavex;
    HWND window = horavex.MainWindow();
    ASSERT_TRUE(WaitUntil([&] { return server.Sent().size() == 1; }, kWait));
    PostMessageA(window, WM_COMMAND, IDM_PROPERTIES, 0);
    HWND dialog = WaitForDialogWith(horavex.Id(), IDC_MAIN_STARTUP, kWait);
    ASSERT_NE(dialog, (HWND)NULL);
    SetForegroundWindow(dialog);
    MoveMouseOver(GetDlgItem(dialog, IDC_MAIN_ADVANCED));
    ASSERT_TRUE(WaitUntil([&] { return ShownCursor() != NULL; }, kWait));
    HCURSOR idle = ShownCursor();

    PostMessageA(window, WM_TIMER, 100, 0);
    ASSERT_TRUE(server.WaitForConnections(2, kWait));
    ASSERT_TRUE(CursorBecomes(dialog, [&](HCURSOR shown) { return shown != idle; }, kWait))
        << "a request of the main window shows as running";
    HCURSOR busy = ShownCursor();
    MoveMouseOver(GetDlgItem(dialog, IDC_MAIN_ADVANCED));
    EXPECT_FALSE(WaitUntil([&] { return ShownCursor() != busy; }, 500)) << "over a button too";
    ASSERT_TRUE(WaitUntil([&] { return server.Sent().size() == 2; }, kWait));
    EXPECT_TRUE(CursorBecomes(dialog, [&](HCURSOR shown) { return shown != busy; }, 3000))
        << "the request is over";
    ClickPosted(dialog, IDC_MAIN_EXIT);
    EXPECT_TRUE(horavex.WaitForExit(kWait));
}
