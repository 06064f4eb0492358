#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "base/globals.h"
#include "base/serverlist.h"
#include "dialog.h"
#include "e2e.h"
#include "expected.h"
#include "pump.h"
#include "resource.h"
#include "shelllink.h"
#include "timeserver.h"
#include "windowhelpers.h"

namespace {

const DWORD kWait = 10000;

/* The program started with the settings seeded, and its main dialog. */
struct DialogRun {
    HoravexProcess horavex;
    HWND dialog = WaitForDialogWith(horavex.Id(), IDC_MAIN_STARTUP, kWait);

    std::string Field(int id) const { return ControlText(dialog, id); }
    bool Gone() const { return !IsWindow(dialog); }
    bool WaitUntilGone(DWORD timeoutMs) const
    {
        return WaitUntil([&] { return Gone(); }, timeoutMs);
    }
    /* Opens the dialog again from the tray menu's item. */
    HWND Reopen(WORD menuItem)
    {
        PostMessageA(horavex.MainWindow(), WM_COMMAND, menuItem, 0);
        dialog = WaitForDialogWith(horavex.Id(), IDC_MAIN_STARTUP, kWait);
        return dialog;
    }
};

bool IsLongDate(const std::string &text)
{
    return !text.empty() && text.find("Calibrating") == std::string::npos && text != "Stopped";
}

/* Every status text that the dialog shows until a reading's date, each
   with the button's text at that moment. */
std::vector<std::pair<std::string, std::string>> WatchStatus(HWND dialog, DWORD timeoutMs)
{
    std::vector<std::pair<std::string, std::string>> seen;
    WaitUntil([&] {
        std::string status = ControlText(dialog, IDC_MAIN_STATUS);
        if (seen.empty() || seen.back().first != status)
            seen.emplace_back(status, ControlText(dialog, IDC_MAIN_GETTIME));
        return IsLongDate(status);
    }, timeoutMs);
    return seen;
}

std::string StartupLinkPath()
{
    return ReadRegString(HKEY_CURRENT_USER,
                         "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                         "Startup") + "\\Horavex.lnk";
}

} // namespace

class MainDialog : public EndToEnd {
protected:
    void SetUp() override
    {
        EndToEnd::SetUp();
        DeleteFileA(StartupLinkPath().c_str());
    }
    void TearDown() override
    {
        DeleteFileA(StartupLinkPath().c_str());
        EndToEnd::TearDown();
    }
    /* A host that needs no warning and a dialog that opens without a fetch. */
    static void SeedQuietOpening(const std::string &host)
    {
        SeedText("host", host);
        SeedNumber("autoStart", 0);
        SeedNumber("reportOnly", 1);
        SeedNumber("attempts", 0);
    }
};

TEST_F(MainDialog, OpensWithTheStoredSettingsAndStoresWhatWasChanged)
{
    SeedHosts({"b.invalid", "a.invalid"});
    SeedQuietOpening("a.invalid");
    SeedNumber("autoClose", 0);
    DialogRun run;
    ASSERT_NE(run.dialog, (HWND)NULL);
    EXPECT_EQ(ComboEntries(run.dialog, IDC_MAIN_HOST),
              (std::vector<std::string>{"a.invalid", "b.invalid"}));
    EXPECT_EQ(run.Field(IDC_MAIN_HOST), "a.invalid");
    EXPECT_FALSE(IsChecked(run.dialog, IDC_MAIN_AUTOSTART));
    EXPECT_TRUE(IsChecked(run.dialog, IDC_MAIN_REPORTONLY));
    EXPECT_FALSE(IsChecked(run.dialog, IDC_MAIN_AUTOCLOSE));
    EXPECT_FALSE(IsChecked(run.dialog, IDC_MAIN_SYSTRAY));
    EXPECT_EQ(run.Field(IDC_MAIN_ZONE), ZoneNameInEffect());
    EXPECT_EQ(run.Field(IDC_MAIN_STATUS), "");
    RECT frame;
    GetWindowRect(run.dialog, &frame);
    EXPECT_EQ(frame.left, (GetSystemMetrics(SM_CXSCREEN) - (frame.right - frame.left)) / 2);
    EXPECT_EQ(frame.top, (GetSystemMetrics(SM_CYSCREEN) - (frame.bottom - frame.top)) / 3);
    EXPECT_TRUE(WaitUntil([&] { return WindowText(run.dialog) != "Horavex"; }, 3000))
        << "the title becomes a clock";

    Click(run.dialog, IDC_MAIN_AUTOSTART);
    Click(run.dialog, IDC_MAIN_REPORTONLY);
    Click(run.dialog, IDC_MAIN_CLOSE);
    ASSERT_TRUE(run.horavex.WaitForExit(kWait)) << "without the tray, closing ends the program";
    EXPECT_EQ(run.horavex.ExitCode(), 0u);
    EXPECT_EQ(Number("autoStart"), 1);
    EXPECT_EQ(Number("reportOnly"), 0);
    EXPECT_EQ(StoredHosts(), (std::vector<std::string>{"a.invalid", "b.invalid"}));
}

TEST_F(MainDialog, NewHostsGoOnTopAndKnownOnesAreMatchedIgnoringCase)
{
    TestTimeServer server(TimeReply::Now(0));
    SeedHosts({"zulu.invalid", "alpha.invalid"});
    SeedQuietOpening("alpha.invalid");
    BoxAnswerer winsockErrors("Winsock Error", IDOK, kAnyHoravex);
    DialogRun run;
    ASSERT_NE(run.dialog, (HWND)NULL);

    TypeIntoCombo(run.dialog, IDC_MAIN_HOST, " " + server.Address());
    Click(run.dialog, IDC_MAIN_GETTIME);
    TypeIntoCombo(run.dialog, IDC_MAIN_HOST, server.Address());
    Click(run.dialog, IDC_MAIN_GETTIME);
    ASSERT_TRUE(WaitUntil([&] { return IsLongDate(run.Field(IDC_MAIN_STATUS)); }, kWait));
    EXPECT_EQ(server.Connections(), 1) << "a name led by a blank is not used";
    EXPECT_EQ(ComboEntries(run.dialog, IDC_MAIN_HOST),
              (std::vector<std::string>{server.Address(), "alpha.invalid", "zulu.invalid"}));

    TypeIntoCombo(run.dialog, IDC_MAIN_HOST, "ALPHA.invalid");
    Click(run.dialog, IDC_MAIN_GETTIME);
    ASSERT_TRUE(winsockErrors.WaitForCount(1, kWait));
    EXPECT_EQ(ComboEntries(run.dialog, IDC_MAIN_HOST).size(), 3u);
    EXPECT_TRUE(WaitForControlText(run.dialog, IDC_MAIN_GETTIME, "&Get time", kWait));

    ClickPosted(run.dialog, IDC_MAIN_EXIT);
    ASSERT_TRUE(run.horavex.WaitForExit(kWait));
    EXPECT_EQ(Text("host"), "ALPHA.invalid") << "the host as typed";
    EXPECT_EQ(StoredHosts(),
              (std::vector<std::string>{server.Address(), "alpha.invalid", "zulu.invalid"}));
}

TEST_F(MainDialog, EmptyingTheHostFieldDeletesTheSelectedHost)
{
    SeedHosts({"a.invalid", "b.invalid", "c.invalid"});
    SeedQuietOpening("b.invalid");
    DialogRun run;
    ASSERT_NE(run.dialog, (HWND)NULL);
    TypeIntoCombo(run.dialog, IDC_MAIN_HOST, "");
    EXPECT_EQ(ComboEntries(run.dialog, IDC_MAIN_HOST),
              (std::vector<std::string>{"a.invalid", "c.invalid"}));
    EXPECT_EQ(run.Field(IDC_MAIN_HOST), "a.invalid") << "the host before it";
    TypeIntoCombo(run.dialog, IDC_MAIN_HOST, "");
    EXPECT_EQ(run.Field(IDC_MAIN_HOST), "c.invalid") << "the first deleted, the new first";
    Click(run.dialog, IDC_MAIN_CLOSE);
    ASSERT_TRUE(run.horavex.WaitForExit(kWait));
    EXPECT_EQ(StoredHosts(), (std::vector<std::string>{"c.invalid"}));
}

TEST_F(MainDialog, CalibratesBeforeTheReadingThatCountsWithStopShownThroughout)
{
    TestTimeServer server(TimeReply::Now(0).Delay(150));
    SeedQuietOpening(server.Address());
    SeedNumber("autoStart", 1);
    SeedNumber("attempts", 3);
    DialogRun run;
    ASSERT_NE(run.dialog, (HWND)NULL);
    /* Two calibrations may show the same lag: what is seen is each change. */
    auto seen = WatchStatus(run.dialog, kWait);
    ASSERT_GE(seen.size(), 3u);
    EXPECT_EQ(seen[0].first, "Calibrating Net Lag ...");
    for (size_t i = 1; i + 1 < seen.size(); i++) {
        long lag = 0;
        EXPECT_EQ(sscanf(seen[i].first.c_str(), "Calibrating Lag (%ld ms)", &lag), 1)
            << seen[i].first;
        EXPECT_GE(lag, 150);
    }
    for (size_t i = 0; i + 1 < seen.size(); i++)
        EXPECT_EQ(seen[i].second, "Stop!") << seen[i].first;
    EXPECT_TRUE(IsLongDate(seen.back().first)) << seen.back().first;
    EXPECT_TRUE(WaitForControlText(run.dialog, IDC_MAIN_GETTIME, "&Get time", kWait));
    EXPECT_TRUE(IsEnabled(run.dialog, IDC_MAIN_CLOSE));
    EXPECT_EQ(server.Connections(), 4);
    ASSERT_EQ(server.Sent().size(), 4u);
    EXPECT_EQ(run.Field(IDC_MAIN_TIME), ShownTimeOfDay(server.Sent()[3]));
    EXPECT_EQ(WindowText(run.horavex.MainWindow()), run.Field(IDC_MAIN_TIME));
    long lag = atol(run.Field(IDC_MAIN_LAG).c_str());
    EXPECT_GE(lag, 150);
    EXPECT_EQ(run.Field(IDC_MAIN_LAG), std::to_string(lag) + " ms");
    ClickPosted(run.dialog, IDC_MAIN_EXIT);
    EXPECT_TRUE(run.horavex.WaitForExit(kWait));
}

TEST_F(MainDialog, StopKeepsTheCalibrationsThatAreLeftForTheNextGetTime)
{
    TestTimeServer server(TimeReply::Now(0).Delay(500));
    SeedQuietOpening(server.Address());
    SeedNumber("autoStart", 1);
    SeedNumber("attempts", 2);
    DialogRun run;
    ASSERT_NE(run.dialog, (HWND)NULL);
    ASSERT_TRUE(WaitUntil([&] { return run.Field(IDC_MAIN_STATUS).find("Lag (") != std::string::npos; },
                          kWait));
    Click(run.dialog, IDC_MAIN_GETTIME);
    ASSERT_TRUE(WaitForControlText(run.dialog, IDC_MAIN_STATUS, "Stopped", kWait));
    EXPECT_EQ(run.Field(IDC_MAIN_GETTIME), "&Get time");
    EXPECT_EQ(run.Field(IDC_MAIN_LAG), "");
    ASSERT_TRUE(server.WaitForConnections(2, kWait));

    Click(run.dialog, IDC_MAIN_GETTIME);
    auto seen = WatchStatus(run.dialog, kWait);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[1].first.compare(0, 17, "Calibrating Lag ("), 0) << seen[1].first;
    EXPECT_TRUE(IsLongDate(seen[2].first));
    EXPECT_EQ(server.Connections(), 4);
    ClickPosted(run.dialog, IDC_MAIN_EXIT);
    EXPECT_TRUE(run.horavex.WaitForExit(kWait));
}

TEST_F(MainDialog, WhileARequestRunsOnlyStopAndExitAct)
{
    TestTimeServer server(TimeReply::NeverAnswer());
    SeedQuietOpening(server.Address());
    DialogRun run;
    ASSERT_NE(run.dialog, (HWND)NULL);
    Click(run.dialog, IDC_MAIN_GETTIME);
    ASSERT_TRUE(WaitForControlText(run.dialog, IDC_MAIN_GETTIME, "Stop!", kWait));
    ASSERT_TRUE(server.WaitForConnections(1, kWait));
    EXPECT_FALSE(IsEnabled(run.dialog, IDC_MAIN_CLOSE));
    PressEscape(run.dialog);
    SendMessageA(run.dialog, WM_COMMAND, IDCANCEL, 0);
    SendMessageA(run.dialog, WM_CLOSE, 0, 0);
    /* The socket message's number is also DM_REPOSITION. */
    SendMessageA(run.dialog, UM_SOCKET, 0, MAKELPARAM(FD_READ, 0));
    EXPECT_FALSE(run.Gone());
    EXPECT_EQ(run.Field(IDC_MAIN_GETTIME), "Stop!");
    ClickPosted(run.dialog, IDC_MAIN_EXIT);
    ASSERT_TRUE(run.horavex.WaitForExit(kWait));
    EXPECT_EQ(run.horavex.ExitCode(), 0u);
    EXPECT_TRUE(server.WaitForClosedByClient(1, kWait));
}

/* Auto Close ends the dialog after a reading or a failed read, not after a
   connection error: one case each, so that each waits its five seconds
   alone. */
class AutoClose : public MainDialog {
protected:
    /* The dialog that fetches from server on opening, with Auto Close on. */
    void Run(const TimeReply &reply, bool closes)
    {
        TestTimeServer server(reply);
        SeedQuietOpening(server.Address());
        SeedNumber("autoStart", 1);
        SeedNumber("autoClose", 1);
        BoxAnswerer errors("Connection Error", IDOK, kAnyHoravex);
        DialogRun run;
        ASSERT_NE(run.dialog, (HWND)NULL);
        ASSERT_TRUE(WaitForControlText(run.dialog, IDC_MAIN_GETTIME, "&Get time", kWait))
            << "a server that closes without data ends the request";
        if (closes) {
            EXPECT_TRUE(run.horavex.WaitForExit(8000)) << server.Connections();
            return;
        }
        ASSERT_TRUE(errors.WaitForCount(1, kWait));
        EXPECT_EQ(errors.Text(), "Error connecting to: " + server.Address() +
                                     "\r\nTry another host (see " SERVER_LIST_URL
                                     " for\r\na link to a list of alternative sites)");
        EXPECT_FALSE(run.WaitUntilGone(6000));
        ClickPosted(run.dialog, IDC_MAIN_EXIT);
        EXPECT_TRUE(run.horavex.WaitForExit(kWait));
    }
};

TEST_F(AutoClose, EndsTheDialogAfterAReading)
{
    Run(TimeReply::Now(0), true);
}

TEST_F(AutoClose, EndsTheDialogAfterAFailedRead)
{
    Run(TimeReply::CloseWithoutData(), true);
}

TEST_F(AutoClose, KeepsTheDialogAfterAConnectionError)
{
    Run(TimeReply::Refused(), false);
}

TEST_F(MainDialog, TheDiffFieldShowsTheDifferenceAsTheClockWasLeft)
{
    struct Case {
        DWORD reportOnly;
        DWORD adjOpt;
        const char *diff;
    } cases[] = {
        {1, 0, "100 secs"},  /* report only: the full difference */
        {0, 1, "0 secs"},    /* ignored beyond the limit */
    };
    for (const Case &row : cases) {
        DeleteKeyTree(HKEY_LOCAL_MACHINE, VENDOR_KEY);
        TestTimeServer server(TimeReply::Now(100).EarlyInSecond());
        SeedQuietOpening(server.Address());
        SeedNumber("autoStart", 1);
        SeedNumber("reportOnly", row.reportOnly);
        SeedNumber("adjOpt", row.adjOpt);
        SeedNumber("maxAdjust", 60);
        DialogRun run;
        ASSERT_NE(run.dialog, (HWND)NULL);
        ASSERT_TRUE(WaitUntil([&] { return IsLongDate(run.Field(IDC_MAIN_STATUS)); }, kWait));
        EXPECT_EQ(run.Field(IDC_MAIN_DIFF), row.diff);
        ClickPosted(run.dialog, IDC_MAIN_EXIT);
        EXPECT_TRUE(run.horavex.WaitForExit(kWait));
    }
}

/* autoStart acts on the first dialog of a run, timeOut on every one, and
   nothing fetches without a host. */
TEST_F(MainDialog, FetchesOnOpeningByTheRule)
{
    struct Case {
        DWORD autoStart;
        DWORD timeOut;
        bool hasHost;
        bool first;
        bool later;
    } cases[] = {
        {1, 0, true, true, false},
        {0, 0, true, false, false},
        {0, 5, true, false, true}, /* the tick asks for a fetch only with autoStart */
        {1, 5, false, false, false},
    };
    for (const Case &row : cases) {
        SCOPED_TRACE(testing::Message() << row.autoStart << " " << row.timeOut << " "
                                        << row.hasHost);
        DeleteKeyTree(HKEY_LOCAL_MACHINE, VENDOR_KEY);
        TestTimeServer server(TimeReply::Now(0));
        SeedQuietOpening(row.hasHost ? server.Address() : "");
        SeedNumber("autoStart", row.autoStart);
        SeedNumber("timeOut", row.timeOut);
        SeedNumber("sysTray", 1);
        BoxAnswerer warning("NTP Service", IDOK, kAnyHoravex);
        DialogRun run;
        ASSERT_NE(run.dialog, (HWND)NULL);
        int fetched = 0;
        for (bool fetches : {row.first, row.later}) {
            fetched += fetches ? 1 : 0;
            if (fetches) {
                EXPECT_TRUE(WaitUntil([&] { return IsLongDate(run.Field(IDC_MAIN_STATUS)); },
                                      kWait));
            } else {
                EXPECT_EQ(run.Field(IDC_MAIN_STATUS), "");
            }
            EXPECT_TRUE(server.WaitForConnections(fetched, kWait));
            EXPECT_FALSE(server.WaitForConnections(fetched + 1, fetches ? 0 : 300));
            Click(run.dialog, IDC_MAIN_CLOSE);
            ASSERT_TRUE(run.WaitUntilGone(kWait));
            ASSERT_NE(run.Reopen(IDM_GETTIME), (HWND)NULL);
        }
        if (!row.hasHost) {
            EXPECT_EQ(ComboEntries(run.dialog, IDC_MAIN_HOST), (std::vector<std::string>{""}));
        }
        ClickPosted(run.dialog, IDC_MAIN_EXIT);
        EXPECT_TRUE(run.horavex.WaitForExit(kWait));
    }
}

TEST_F(MainDialog, TheSystrayBoxDecidesWhetherTheProgramStays)
{
    /* The quiet tick's request ends at once, leaving Close free. */
    TestTimeServer server(TimeReply::Refused());
    SeedQuietOpening(server.Address());
    SeedNumber("sysTray", 1);
    SeedNumber("quiet", 1);
    HoravexProcess horavex;
    PostMessageA(horavex.MainWindow(), WM_COMMAND, IDM_PROPERTIES, 0);
    HWND dialog = WaitForDialogWith(horavex.Id(), IDC_MAIN_STARTUP, kWait);
    ASSERT_NE(dialog, (HWND)NULL);
    EXPECT_TRUE(IsChecked(dialog, IDC_MAIN_SYSTRAY));
    Click(dialog, IDC_MAIN_SYSTRAY);
    Click(dialog, IDC_MAIN_CLOSE);
    ASSERT_TRUE(horavex.WaitForExit(kWait));
    EXPECT_EQ(Number("sysTray"), 0);
    EXPECT_EQ(Number("quiet"), 0) << "quiet goes with the tray";

    DialogRun run;
    ASSERT_NE(run.dialog, (HWND)NULL);
    Click(run.dialog, IDC_MAIN_SYSTRAY);
    Click(run.dialog, IDC_MAIN_CLOSE);
    ASSERT_TRUE(run.WaitUntilGone(kWait));
    EXPECT_FALSE(run.horavex.WaitForExit(500)) << "resident";
    ASSERT_TRUE(run.horavex.Close());
    EXPECT_EQ(Number("sysTray"), 1);
}

TEST_F(MainDialog, AutoCloseDuringItsOwnRequestEndsThatRequest)
{
    TestTimeServer server(TimeReply::NeverAnswer());
    SeedQuietOpening(server.Address());
    SeedNumber("sysTray", 1);
    DialogRun run;
    ASSERT_NE(run.dialog, (HWND)NULL);
    Click(run.dialog, IDC_MAIN_AUTOCLOSE);
    Click(run.dialog, IDC_MAIN_GETTIME);
    ASSERT_TRUE(server.WaitForConnections(1, kWait));
    ASSERT_TRUE(run.WaitUntilGone(8000));
    EXPECT_TRUE(server.WaitForClosedByClient(1, kWait)) << "the socket is closed";
    ASSERT_NE(run.Reopen(IDM_PROPERTIES), (HWND)NULL);
    EXPECT_EQ(run.Field(IDC_MAIN_GETTIME), "&Get time") << "the state is at rest";
    EXPECT_TRUE(IsEnabled(run.dialog, IDC_MAIN_CLOSE));
    ClickPosted(run.dialog, IDC_MAIN_EXIT);
    EXPECT_TRUE(run.horavex.WaitForExit(kWait));
}

TEST_F(MainDialog, TheStartupBoxFollowsTheShortcutFile)
{
    const std::string link = StartupLinkPath();
    SeedQuietOpening("a.invalid");
    SeedNumber("sysTray", 1);
    DialogRun run;
    ASSERT_NE(run.dialog, (HWND)NULL);
    EXPECT_FALSE(IsChecked(run.dialog, IDC_MAIN_STARTUP));
    Click(run.dialog, IDC_MAIN_STARTUP);
    ASSERT_TRUE(WaitUntil([&] { return IsChecked(run.dialog, IDC_MAIN_STARTUP); }, kWait));
    std::string target, description;
    ASSERT_TRUE(ReadLink(link, &target, &description)) << link;
    EXPECT_EQ(lstrcmpiA(target.c_str(), HoravexPath().c_str()), 0) << target;
    EXPECT_EQ(description, "Horavex");

    Click(run.dialog, IDC_MAIN_CLOSE);
    ASSERT_TRUE(run.WaitUntilGone(kWait));
    ASSERT_NE(run.Reopen(IDM_PROPERTIES), (HWND)NULL);
    EXPECT_TRUE(IsChecked(run.dialog, IDC_MAIN_STARTUP)) << "the file exists";
    Click(run.dialog, IDC_MAIN_STARTUP);
    ASSERT_TRUE(WaitUntil([&] { return !IsChecked(run.dialog, IDC_MAIN_STARTUP); }, kWait));
    EXPECT_EQ(GetFileAttributesA(link.c_str()), INVALID_FILE_ATTRIBUTES);
    ClickPosted(run.dialog, IDC_MAIN_EXIT);
    EXPECT_TRUE(run.horavex.WaitForExit(kWait));
}
