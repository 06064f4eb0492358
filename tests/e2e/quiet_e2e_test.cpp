#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <string>
#include <vector>

#include "app/mainwnd.h"
#include "base/serverlist.h"
#include "e2e.h"
#include "expected.h"
#include "logfile.h"
#include "pump.h"
#include "timeclient/timeproto.h"
#include "timeclient/clock.h"
#include "timeserver.h"
#include "windowhelpers.h"


class QuietRun : public EndToEnd {
};

TEST_F(QuietRun, ShowsTheReadingInTheMainWindowTitleAndKeepsItsSettings)
{
    TestTimeServer server(TimeReply::Now(0).EarlyInSecond());
    SeedResident(server.Address());
    SeedNumber("reportOnly", 0);
    SeedNumber("maxAdjust", 0);
    /* Should the second turn between the server's reading and the
       program's, Wine refuses the one-second correction. */
    BoxAnswerer clockError("horavex Error", IDOK, kAnyHoravex);
    HoravexProcess horavex;
    HWND window = horavex.MainWindow();
    ASSERT_NE(window, (HWND)NULL);
    ASSERT_TRUE(WaitUntil([&] { return WindowText(window) != MAIN_WINDOW_TITLE; }, 10000));
    ASSERT_EQ(server.Sent().size(), 1u);
    EXPECT_EQ(WindowText(window), ShownTimeOfDay(server.Sent()[0]));
    EXPECT_TRUE(horavex.Running()) << "resident";
    ASSERT_TRUE(horavex.Close());
    EXPECT_EQ(horavex.ExitCode(), 0u);
    EXPECT_EQ(Text("host"), server.Address());
    EXPECT_EQ(Number("quiet"), 1);
    EXPECT_EQ(Number("sysTray"), 1);
}

TEST_F(QuietRun, WithoutTheTrayFetchesOnceAndStaysResidentFromThenOn)
{
    TestTimeServer server(TimeReply::NeverAnswer());
    SeedResident(server.Address());
    SeedNumber("sysTray", 0);
    HoravexProcess horavex;
    ASSERT_TRUE(horavex.WaitForExit(10000));
    EXPECT_EQ(horavex.ExitCode(), 0u);
    EXPECT_EQ(Number("sysTray"), 1);
    EXPECT_EQ(Number("quiet"), 1);
}

TEST_F(QuietRun, ARefusedConnectionShowsTheErrorInTheTitle)
{
    TestTimeServer server(TimeReply::Refused());
    SeedResident(server.Address());
    BoxAnswerer boxes("Winsock Error", IDOK, kAnyHoravex);
    HoravexProcess horavex;
    HWND window = horavex.MainWindow();
    ASSERT_TRUE(WaitUntil([&] { return WindowText(window) != MAIN_WINDOW_TITLE; }, 10000));
    EXPECT_EQ(WindowText(window), "Error connecting to: " + server.Address() +
                                      " - Try another host (see " SERVER_LIST_URL
                                      " fora link to a list of alternative sites)");
    EXPECT_EQ(boxes.Count(), 0) << "a failed connection is no Windows Sockets error box";
    EXPECT_TRUE(horavex.Close());
}

TEST_F(QuietRun, ANameThatDoesNotResolveGivesTheWinsockErrorBox)
{
    SeedResident("no-such-host.invalid");
    HoravexProcess horavex;
    HWND window = horavex.MainWindow();
    ASSERT_NE(window, (HWND)NULL);
    HWND box = WaitForWindow("#32770", "Winsock Error", horavex.Id(), 10000);
    ASSERT_NE(box, (HWND)NULL);
    EXPECT_EQ(GetWindow(box, GW_OWNER), window);
    std::string text = MessageBoxText(box);
    const std::string head = "\r\nhoravex: no-such-host.invalid: unknown host\r\n";
    ASSERT_EQ(text.compare(0, head.size(), head), 0) << text;
    int code = atoi(text.c_str() + head.size());
    EXPECT_EQ(text, head + std::to_string(code) + ": unknown error");
    EXPECT_GE(code, 11001);
    EXPECT_LE(code, 11004);
    AnswerBox(box, IDOK);
    PumpUntil([] { return false; }, 300);
    EXPECT_EQ(WindowText(window), MAIN_WINDOW_TITLE) << "nothing to show";
    EXPECT_TRUE(horavex.Close());
}

TEST_F(QuietRun, ALoggedReadingWritesWhatTheServerSent)
{
    TempLogFile log;
    TestTimeServer server(TimeReply::Now(0).EarlyInSecond());
    SeedResident(server.Address());
    SeedNumber("reportOnly", 0);
    SeedNumber("maxAdjust", 0);
    SeedNumber("logOpts", 2);
    SeedText("logPath", log.Path());
    BoxAnswerer clockError("horavex Error", IDOK, kAnyHoravex);
    HoravexProcess horavex;
    HWND window = horavex.MainWindow();
    ASSERT_TRUE(WaitUntil([&] { return WindowText(window) != MAIN_WINDOW_TITLE; }, 10000));
    ASSERT_TRUE(horavex.Close());

    std::vector<std::string> lines;
    ASSERT_TRUE(log.Lines(&lines)) << log.Contents();
    ASSERT_EQ(lines.size(), 1u);
    std::vector<std::string> line = SplitFields(lines[0]);
    ASSERT_EQ(line.size(), 11u) << lines[0];
    ASSERT_EQ(server.Sent().size(), 1u);
    LONG sent = ServerTimeFromReply(server.Sent()[0]);
    TimeSample sample;
    memset(&sample, 0, sizeof sample);
    sample.serverTime = sent;
    ToUtcFields(&sample);
    char date[64];
    GetDateFormatA(LOCALE_SYSTEM_DEFAULT, DATE_SHORTDATE, &sample.systemTime, NULL, date,
                   sizeof date);
    time_t t = sent;
    char timeOfDay[16];
    strftime(timeOfDay, sizeof timeOfDay, "%H:%M:%S", localtime(&t));

    EXPECT_EQ(line[0], server.Address());
    EXPECT_EQ(line[1], date);
    EXPECT_EQ(line[2], ZoneNameInEffect());
    EXPECT_EQ(line[3], timeOfDay);
    EXPECT_EQ(line[5], std::to_string(sent)) << "a lag below 2 s adds nothing";
    long long local = atoll(line[6].c_str());
    EXPECT_LE(std::abs(local - sent), 1);
    EXPECT_EQ(line[7], std::to_string(sent - local));
    EXPECT_EQ(line[8].substr(line[8].size() - 3), " ms");
    EXPECT_EQ(line[9].substr(line[9].size() - 3), " ms");
    EXPECT_LE(atol(line[9].c_str()), atol(line[8].c_str())) << "connected before the reply";
    EXPECT_EQ(line[10], "reset");
}

TEST_F(QuietRun, ABigChangeIsAskedAndCancelLeavesTheClockAlone)
{
    TempLogFile log;
    TestTimeServer server(TimeReply::Now(3 * 3600));
    SeedResident(server.Address());
    SeedNumber("reportOnly", 0);
    SeedNumber("maxAdjust", 60);
    SeedNumber("logOpts", 1);
    SeedText("logPath", log.Path());
    BoxAnswerer clockError("horavex Error", IDOK, kAnyHoravex);
    HoravexProcess horavex;
    HWND window = horavex.MainWindow();
    HWND box = WaitForWindow("#32770", "Big Change", horavex.Id(), 10000);
    ASSERT_NE(box, (HWND)NULL);
    EXPECT_EQ(GetWindow(box, GW_OWNER), window);
    std::string text = MessageBoxText(box);
    const std::string head =
        "The difference between the time returned and the current local time (";
    ASSERT_EQ(text.compare(0, head.size(), head), 0) << text;
    long difference = atol(text.c_str() + head.size());
    EXPECT_GE(difference, 3 * 3600 - 1);
    EXPECT_LE(difference, 3 * 3600 + 1);
    EXPECT_EQ(text, head + std::to_string(difference) +
                        " secs) is greater than the specified maximum adjustment (60 secs).  Do "
                        "you want to override this maximum?");
    AnswerBox(box, IDCANCEL);
    ASSERT_TRUE(WaitUntil([&] { return WindowText(window) != MAIN_WINDOW_TITLE; }, 10000));
    ASSERT_TRUE(horavex.Close());
    EXPECT_EQ(clockError.Count(), 0);
    std::vector<std::string> lines;
    ASSERT_TRUE(log.Lines(&lines));
    ASSERT_EQ(lines.size(), 1u);
    std::vector<std::string> line = SplitFields(lines[0]);
    ASSERT_EQ(line.size(), 8u);
    EXPECT_EQ(line[5], "0");
    EXPECT_EQ(line[7], "ignore");
}

/* A log that cannot be opened, and one whose line cannot be written (a
   full device), are both reported with the path. */
TEST_F(QuietRun, AnUnwritableLogIsReportedWithItsPath)
{
    for (const char *path : {"C:\\no\\such\\folder\\horavex.log", "Z:\\dev\\full"}) {
        TestTimeServer server(TimeReply::Now(0).EarlyInSecond());
        SeedResident(server.Address());
        SeedNumber("logOpts", 1);
        SeedNumber("reportOnly", 0);
        SeedNumber("maxAdjust", 0);
        SeedText("logPath", path);
        BoxAnswerer clockError("horavex Error", IDOK, kAnyHoravex);
        BoxAnswerer logError("Log Error", IDOK, kAnyHoravex);
        HoravexProcess horavex;
        ASSERT_TRUE(logError.WaitForCount(1, 10000)) << path;
        EXPECT_EQ(logError.Text(), std::string("Error writing to log file ") + path);
        EXPECT_EQ(logError.Owner(), horavex.MainWindow());
        EXPECT_TRUE(horavex.Close());
    }
}
