#include <gtest/gtest.h>

#include <string.h>
#include <time.h>

#include <stdlib.h>

#include <atomic>
#include <string>
#include <thread>

#include "base/globals.h"
#include "app/mainwnd.h"
#include "base/serverlist.h"
#include "base/stringlist.h"
#include "logfile.h"
#include "expected.h"
#include "mainwindow.h"
#include "pump.h"
#include "sntpserver.h"
#include "timeclient/adjustlimit.h"
#include "timeclient/request.h"
#include "timeclient/clock.h"
#include "ui/maindlg.h"
#include "timeserver.h"
#include "windowhelpers.h"

namespace {

/* Raw values of distinct times of day, an hour apart. */
uint32_t HoursLater(int hours)
{
    return RawTime(978307200LL + 3600LL * hours + 17);
}

class QuietTick : public MainWindowTest {
protected:
    void SetUp() override
    {
        MainWindowTest::SetUp();
        Create();
    }

    void Fetch(const TestTimeServer &server)
    {
        MakeQuiet(server.Address());
        State()->reportOnly = 1;
    }
};

} // namespace

TEST_F(QuietTick, ShowsTheServerTimeInTheMainWindowTitle)
{
    TestTimeServer server(TimeReply::Value(HoursLater(5)).KeepOpen());
    Fetch(server);
    ASSERT_TRUE(WaitForTitleChange(10000));
    EXPECT_EQ(Title(), ShownTimeOfDay(HoursLater(5)));
    EXPECT_TRUE(WaitForRest(1000));
    EXPECT_EQ(server.Connections(), 1);
    EXPECT_TRUE(server.WaitForClosedByClient(1, 5000)) << "the client closes its socket";
}

TEST_F(QuietTick, ReadsTimesPastTheServerCounterWrapIn2036)
{
    TestTimeServer server(TimeReply::Value(0u));
    Fetch(server);
    ASSERT_TRUE(WaitForTitleChange(10000));
    EXPECT_EQ(Title(), ShownTimeOfDay(0u));
}

TEST_F(QuietTick, EveryPeriodicTickFetchesAgain)
{
    TestTimeServer server(TimeReply::Values({HoursLater(1), HoursLater(2)}));
    Fetch(server);
    ASSERT_TRUE(PumpUntil([&] { return Title() == ShownTimeOfDay(HoursLater(1)); }, 10000));
    ASSERT_TRUE(WaitForRest(1000));
    PostMessageA(window_, WM_TIMER, 100, 0);
    EXPECT_TRUE(PumpUntil([&] { return Title() == ShownTimeOfDay(HoursLater(2)); }, 10000));
    EXPECT_EQ(server.Connections(), 2);
}

TEST_F(QuietTick, CalibrationConnectsOnceMoreThanItsCountAndOnlyTheLastReadingCounts)
{
    TestTimeServer server(
        TimeReply::Values({HoursLater(1), HoursLater(2), HoursLater(3), HoursLater(4)}));
    Fetch(server);
    SetCalibrationsDue(Request(), 3);
    ASSERT_TRUE(WaitForTitleChange(10000));
    EXPECT_EQ(Title(), ShownTimeOfDay(HoursLater(4)));
    EXPECT_EQ(server.Connections(), 4);
    EXPECT_EQ(CalibrationsDue(Request()), 0u);
    EXPECT_TRUE(WaitForRest(1000));
}

TEST_F(QuietTick, CalibrationReadingsAreNotApplied)
{
    /* Far from now, so that every applied reading fails to set the clock. */
    TestTimeServer server(TimeReply::Values({HoursLater(1), HoursLater(2), HoursLater(3)}));
    BoxAnswerer clockErrors("horavex Error", IDOK);
    MakeQuiet(server.Address());
    State()->maxAdjust = 0;
    SetCalibrationsDue(Request(), 2);
    ASSERT_TRUE(WaitForTitleChange(15000));
    ASSERT_TRUE(WaitForRest(1000));
    EXPECT_EQ(server.Connections(), 3);
    EXPECT_EQ(clockErrors.Count(), 1);
}

TEST_F(QuietTick, WithoutCalibrationConnectsOnce)
{
    TestTimeServer server(TimeReply::Values({HoursLater(1), HoursLater(2)}));
    Fetch(server);
    State()->attempts = 3;
    ASSERT_TRUE(WaitForTitleChange(10000));
    EXPECT_EQ(Title(), ShownTimeOfDay(HoursLater(1)));
    EXPECT_EQ(server.Connections(), 1);
}

TEST_F(QuietTick, AShortReplyEndsTheRequestWithoutAReading)
{
    TestTimeServer server(TimeReply::Value(HoursLater(1)).Bytes(3));
    Fetch(server);
    ASSERT_TRUE(server.WaitForConnections(1, 10000));
    ASSERT_TRUE(WaitForRest(5000));
    PumpUntil([] { return false; }, 200);
    EXPECT_EQ(Title(), MAIN_WINDOW_TITLE);
}

TEST_F(QuietTick, AReplyInTwoPiecesIsOneReading)
{
    TestTimeServer server(TimeReply::Value(HoursLater(1)).Split(500));
    Fetch(server);
    ASSERT_TRUE(WaitForTitleChange(10000));
    EXPECT_EQ(Title(), ShownTimeOfDay(HoursLater(1)));
    EXPECT_TRUE(WaitForRest(5000));
}

TEST_F(QuietTick, AServerClosingWithoutDataEndsTheRequest)
{
    TestTimeServer server(TimeReply::CloseWithoutData());
    Fetch(server);
    ASSERT_TRUE(server.WaitForConnections(1, 10000));
    EXPECT_TRUE(WaitForRest(5000));
    EXPECT_EQ(Title(), MAIN_WINDOW_TITLE);
}

TEST_F(QuietTick, AReplyBefore1970IsRefused)
{
    TestTimeServer server(TimeReply::Value(2208988799u).KeepOpen());
    BoxAnswerer clockErrors("horavex Error", IDOK);
    MakeQuiet(server.Address());
    State()->maxAdjust = 0;
    ASSERT_TRUE(server.WaitForClosedByClient(1, 10000));
    EXPECT_TRUE(WaitForRest(1000));
    PumpUntil([] { return false; }, 200);
    EXPECT_EQ(Title(), MAIN_WINDOW_TITLE);
    EXPECT_EQ(clockErrors.Count(), 0);
}

TEST_F(QuietTick, ARefusedConnectionShowsTheErrorInTheTitle)
{
    TestTimeServer server(TimeReply::Refused());
    Fetch(server);
    ASSERT_TRUE(WaitForTitleChange(10000));
    EXPECT_EQ(Title(), "Error connecting to: " + server.Address() +
                           " - Try another host (see " SERVER_LIST_URL
                           " fora link to a list of alternative sites)");
    EXPECT_EQ(ExchangeSocket(Request()), INVALID_SOCKET);
    EXPECT_EQ(RequestRunning(Request()), FALSE);
}

TEST_F(QuietTick, AServerThatNeverAnswersIsReplacedByTheNextTick)
{
    TestTimeServer server(TimeReply::NeverAnswer());
    Fetch(server);
    ASSERT_TRUE(server.WaitForConnections(1, 10000));
    EXPECT_EQ(RequestRunning(Request()), TRUE);
    PostMessageA(window_, WM_TIMER, 100, 0);
    EXPECT_TRUE(PumpUntil([&] { return server.ClosedByClient() == 1; }, 5000))
        << "the older request's socket is closed";
    EXPECT_TRUE(server.WaitForConnections(2, 5000));
    EXPECT_EQ(RequestRunning(Request()), TRUE);
}

TEST_F(QuietTick, LeavesARequestOfTheOpenMainDialogAlone)
{
    TestTimeServer server(TimeReply::NeverAnswer());
    Fetch(server);
    ASSERT_TRUE(server.WaitForConnections(1, 10000));
    SOCKET held = ExchangeSocket(Request());
    dialogOpen = 1;
    PostMessageA(window_, WM_TIMER, 100, 0);
    PumpUntil([] { return false; }, 300);
    dialogOpen = 0;
    EXPECT_EQ(ExchangeSocket(Request()), held);
    EXPECT_EQ(server.Connections(), 1);
    EXPECT_EQ(server.ClosedByClient(), 0);
}

TEST_F(QuietTick, WithoutTheTrayStartsAFetchAndEndsAtOnce)
{
    TestTimeServer server(TimeReply::NeverAnswer());
    MakeQuiet(server.Address());
    State()->sysTray = 0;
    EXPECT_TRUE(PumpUntil([&] { return !IsWindow(window_); }, 5000));
}

TEST_F(QuietTick, NotificationsOfAClosedSocketAreIgnored)
{
    TestTimeServer server(TimeReply::NeverAnswer());
    Fetch(server);
    ASSERT_TRUE(server.WaitForConnections(1, 10000));
    SOCKET held = ExchangeSocket(Request());
    SendMessageA(window_, UM_SOCKET, (WPARAM)(held + 4), WSAMAKESELECTREPLY(FD_READ, 0));
    SendMessageA(window_, UM_SOCKET, (WPARAM)(held + 4), WSAMAKESELECTREPLY(FD_CONNECT, 10061));
    EXPECT_EQ(ExchangeSocket(Request()), held);
    EXPECT_EQ(RequestRunning(Request()), TRUE);
    EXPECT_EQ(Title(), MAIN_WINDOW_TITLE);
}

TEST_F(QuietTick, ALateNotificationWithNothingToReadKeepsTheRequest)
{
    TestTimeServer server(TimeReply::NeverAnswer());
    Fetch(server);
    ASSERT_TRUE(server.WaitForConnections(1, 10000));
    SOCKET held = ExchangeSocket(Request());
    SendMessageA(window_, UM_SOCKET, (WPARAM)held, WSAMAKESELECTREPLY(FD_CLOSE, 0));
    SendMessageA(window_, UM_SOCKET, (WPARAM)held, WSAMAKESELECTREPLY(FD_READ, 0));
    EXPECT_EQ(ExchangeSocket(Request()), held);
    EXPECT_EQ(RequestRunning(Request()), TRUE);
    EXPECT_EQ(server.ClosedByClient(), 0);
}

/* A request keeps the host it was started for. */
TEST_F(QuietTick, AMissingHostReadsAsAnEmptyOne)
{
    TestTimeServer server(TimeReply::NeverAnswer());
    Fetch(server);
    ASSERT_TRUE(server.WaitForConnections(1, 10000));
    free(State()->host);
    State()->host = NULL;
    SendMessageA(window_, UM_SOCKET, (WPARAM)ExchangeSocket(Request()), WSAMAKESELECTREPLY(FD_CONNECT, 10061));
    EXPECT_EQ(Title(), "Error connecting to: " + server.Address() + " - Try another host (see "
                       SERVER_LIST_URL " fora link to a list of alternative sites)");
    free(State()->logPath);
    State()->logPath = NULL;
    DestroyWindow(window_);
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, SETTINGS_KEY, "host"), "");
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, SETTINGS_KEY, "logPath"), "");
}

/* On Windows such a read of a socket still connecting fails and would end
   the fresh request: nothing is read before the request's own FD_CONNECT. */
TEST_F(QuietTick, AReadOrCloseBeforeTheRequestsOwnConnectIsIgnored)
{
    TestTimeServer server(TimeReply::Value(HoursLater(1)).KeepOpen());
    DropFirstTick();
    Fetch(server);
    RequestOutcome outcome;
    ASSERT_EQ(StartRequest(window_, State(), &outcome), 1);
    SOCKET started = ExchangeSocket(Request());
    ASSERT_TRUE(WaitUntil([&] {
        char first;
        return recv(started, &first, 1, MSG_PEEK) == 1;
    }, 5000)) << "the reply waits to be read";
    SendMessageA(window_, UM_SOCKET, (WPARAM)started, WSAMAKESELECTREPLY(FD_CLOSE, 0));
    SendMessageA(window_, UM_SOCKET, (WPARAM)started, WSAMAKESELECTREPLY(FD_READ, 0));
    EXPECT_EQ(Title(), MAIN_WINDOW_TITLE);
    EXPECT_EQ(ExchangeSocket(Request()), started);
    ASSERT_TRUE(WaitForTitleChange(5000)) << "read once connected";
    EXPECT_EQ(Title(), ShownTimeOfDay(HoursLater(1)));
}

/* A quiet tick while the Big Change question is open starts a slower
   request; the line of the reading asked about keeps its own timings. */
TEST_F(QuietTick, ALoggedReadingKeepsItsOwnTimingsThroughItsQuestion)
{
    TestTimeServer server(TimeReply::Now(1000).Delays({0, 700}));
    TempLogFile log;
    MakeQuiet(server.Address());
    State()->maxAdjust = 60;
    State()->adjOpt = ADJOPT_ASK;
    State()->logOpts = 1;
    State()->logPath = ReplaceString(State()->logPath, log.Path().c_str());
    std::atomic<bool> answered{false};
    std::thread asker([&] {
        HWND box = WaitForWindow("#32770", "Big Change", GetCurrentProcessId(), 10000);
        if (box != NULL) {
            PostMessageA(window_, WM_TIMER, 100, 0);
            /* The second reading is shown, not applied, while the box waits. */
            WaitUntil([&] { return WindowText(window_) != MAIN_WINDOW_TITLE; }, 5000);
            AnswerBox(box, IDCANCEL);
        }
        answered = true;
    });
    EXPECT_TRUE(PumpUntil([&] { return answered.load(); }, 10000));
    asker.join();
    ASSERT_TRUE(WaitForRest(5000));
    EXPECT_EQ(server.Connections(), 2);
    std::vector<std::string> lines;
    ASSERT_TRUE(log.Lines(&lines));
    ASSERT_EQ(lines.size(), 1u);
    std::vector<std::string> line = SplitFields(lines[0]);
    ASSERT_EQ(line.size(), 8u);
    EXPECT_LT(atol(line[6].c_str()), 700) << line[6] << " is the later request's lag";
    EXPECT_EQ(line[7], "ignore");
}

/* SNTP: a failure shows in the title as the Time protocol's do; a host
   that refused us gets no more quiet requests. */
TEST_F(QuietTick, AnSntpFailureShowsInTheTitleAndARefusingHostIsSkipped)
{
    TestSntpServer unsynchronised(SntpAnswer().Leap(3));
    MakeQuiet(unsynchronised.Address());
    State()->protocol = PROTOCOL_SNTP;
    ASSERT_TRUE(WaitForTitleChange(5000));
    EXPECT_EQ(Title(), "Not synchronised: " + unsynchronised.Address() +
                           " (leap indicator 3) - Try another host (see " SERVER_LIST_URL
                           " for a link to a list of alternative sites)");

    TestSntpServer denying(SntpAnswer().Kiss("DENY"));
    MakeQuiet(denying.Address());
    BoxAnswerer boxes("Connection Error", IDOK);
    PostMessageA(window_, WM_TIMER, 100, 0);
    ASSERT_TRUE(PumpUntil([&] { return Title().find("Refused by") == 0; }, 5000));
    PostMessageA(window_, WM_TIMER, 100, 0);
    PumpUntil([] { return false; }, 300);
    EXPECT_EQ(denying.Requests(), 1);
    EXPECT_EQ(boxes.Count(), 0) << "a quiet tick says nothing";
}

/* A server that never answers: after five seconds, reported as a failed
   connection is. */
TEST_F(QuietTick, AnSntpServerThatNeverAnswersIsReportedAfterFiveSeconds)
{
    TestSntpServer silent(SntpAnswer().Silent());
    MakeQuiet(silent.Address());
    State()->protocol = PROTOCOL_SNTP;
    DWORD start = GetTickCount();
    ASSERT_TRUE(WaitForTitleChange(8000));
    EXPECT_GE(GetTickCount() - start, 4900u);
    EXPECT_EQ(Title(), "No answer from: " + silent.Address() + " - Try another host (see " SERVER_LIST_URL
                       " for a link to a list of alternative sites)");
    EXPECT_TRUE(WaitForRest(1000));
}

/* The clock is set to the millisecond: under Wine a time within half a
   second of now is set, one 5 s away is refused; the log keeps
   milliseconds. */
TEST_F(QuietTick, AnSntpReadingSetsTheClockAndLogsMilliseconds)
{
    struct Row {
        long long offsetMs;
        const char *label;
        int clockErrors;
    } rows[] = {{0, "reset", 0}, {5000, "failed", 1}};
    for (const Row &row : rows) {
        TestSntpServer server(SntpAnswer().Offset(row.offsetMs));
        TempLogFile log;
        BoxAnswerer clockErrors("horavex Error", IDOK);
        MakeQuiet(server.Address());
        State()->protocol = PROTOCOL_SNTP;
        State()->logOpts = 2;
        State()->logPath = ReplaceString(State()->logPath, log.Path().c_str());
        PostMessageA(window_, WM_TIMER, 100, 0);
        ASSERT_TRUE(PumpUntil([&] { return log.Exists(); }, 5000)) << row.offsetMs;
        ASSERT_TRUE(WaitForRest(2000));
        EXPECT_EQ(clockErrors.Count(), row.clockErrors);
        std::vector<std::string> lines;
        ASSERT_TRUE(log.Lines(&lines));
        std::vector<std::string> line = SplitFields(lines.at(0));
        ASSERT_EQ(line.size(), 11u);
        for (int field : {5, 6, 7})
            EXPECT_EQ(line[field].size() - line[field].find('.'), 4u) << line[field];
        EXPECT_NEAR(atof(line[7].c_str()), row.offsetMs / 1000.0, 0.005);
        EXPECT_NEAR(atof(line[5].c_str()) - atof(line[6].c_str()), row.offsetMs / 1000.0, 0.0015);
        EXPECT_EQ(line[10], row.label);
    }
}
