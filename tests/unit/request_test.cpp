#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "base/globals.h"
#include "base/stringlist.h"
#include "pump.h"
#include "requestowner.h"
#include "sntpserver.h"
#include "statewindow.h"
#include "timeclient/request.h"
#include "timeclient/timeproto.h"
#include "timeserver.h"
#include "ui/maindlg.h"
#include "windowhelpers.h"

namespace {

ServerManners *MannersOfServer(const TestSntpServer &server)
{
    return MannersOfNtpServer(server.Address());
}

class RequestTest : public ::testing::Test {
protected:
    StateWindow main;
    RequestOwner owner;
    TimeRequest *request = main.state.request;
    RequestOutcome outcome;

    int Start(const std::string &host)
    {
        main.state.host = ReplaceString(main.state.host, host.c_str());
        return StartRequest(owner.window, &main.state, &outcome);
    }
};

} // namespace

TEST_F(RequestTest, StartingConnectsToPort37OfTheHost)
{
    TestTimeServer server(TimeReply::NeverAnswer());
    EXPECT_EQ(Start(server.Address()), 1);
    EXPECT_NE(ExchangeSocket(request), INVALID_SOCKET);
    EXPECT_TRUE(RequestOwnedBy(request, owner.window));
    EXPECT_TRUE(server.WaitForConnections(1, 5000)) << "port 37 of its address";
}

TEST_F(RequestTest, ResetRestoresTheButtonsAndReleasesTheCursor)
{
    HWND getTime = CreateWindowExA(0, "BUTTON", "Stop!", WS_CHILD, 0, 0, 10, 10, owner.window,
                                   (HMENU)(INT_PTR)IDOK, NULL, NULL);
    HWND close = CreateWindowExA(0, "BUTTON", "&Close", WS_CHILD | WS_DISABLED, 0, 20, 10, 10,
                                 owner.window, (HMENU)(INT_PTR)IDCANCEL, NULL, NULL);
    main.state.busyCursor = LoadCursorA(NULL, (LPCSTR)IDC_WAIT);
    ResetRequestControls(owner.window, &main.state);
    EXPECT_EQ(main.state.busyCursor, (HCURSOR)NULL);
    EXPECT_EQ(WindowText(getTime), "&Get time");
    EXPECT_TRUE(IsWindowEnabled(close));
}

/* The lookup runs beside the window, and its failure comes back to the
   owner, who shows it; nothing runs then. */
TEST_F(RequestTest, AHostThatDoesNotResolveIsReportedToTheOwner)
{
    BoxAnswerer boxes("Winsock Error", IDOK);
    EXPECT_EQ(Start("no-such-host.invalid"), 1) << "looked up in a thread";
    ASSERT_TRUE(PumpUntil([&] { return !owner.outcomes.empty(); }, 5000));
    outcome = owner.outcomes.back();
    EXPECT_EQ(outcome.kind, OUTCOME_FAILED);
    EXPECT_EQ(outcome.failure, FAILURE_SOCKET);
    EXPECT_STREQ(outcome.report, "horavex: no-such-host.invalid: unknown host");
    EXPECT_GE(outcome.socketError, WSAHOST_NOT_FOUND) << "a code of the name service";
    EXPECT_LE(outcome.socketError, WSANO_DATA);
    EXPECT_FALSE(RequestRunning(request));
    EXPECT_EQ(ExchangeSocket(request), INVALID_SOCKET);

    outcome = owner.Fetch(std::string(600, 'h'));
    EXPECT_EQ(std::string(outcome.report), "horavex: " + std::string(502, 'h'))
        << "cut to fit, like every report";
    EXPECT_EQ(boxes.Count(), 0) << "the owner shows it";

    size_t before = owner.outcomes.size();
    EXPECT_EQ(Start("stopped.invalid"), 1);
    EXPECT_EQ(StopRequest(request, &outcome), OUTCOME_STOPPED) << "Stop ends a lookup";
    PumpUntil([] { return false; }, 300);
    EXPECT_EQ(owner.outcomes.size(), before) << "its late result is no one's";
}

TEST_F(RequestTest, AStartClosesTheSocketOfAnOlderRequest)
{
    TestTimeServer server(TimeReply::NeverAnswer());
    Start(server.Address());
    ASSERT_TRUE(server.WaitForConnections(1, 5000));
    Start(server.Address());
    EXPECT_TRUE(server.WaitForClosedByClient(1, 5000));
    EXPECT_TRUE(server.WaitForConnections(2, 5000));
}

TEST_F(RequestTest, EndingClosesTheSocketOnce)
{
    TestTimeServer server(TimeReply::NeverAnswer());
    Start(server.Address());
    ASSERT_TRUE(server.WaitForConnections(1, 5000));
    EndRequest(request);
    EXPECT_EQ(ExchangeSocket(request), INVALID_SOCKET);
    EXPECT_FALSE(RequestRunning(request));
    EXPECT_TRUE(server.WaitForClosedByClient(1, 5000));
    EndRequest(request);
    EXPECT_EQ(StopRequest(request, &outcome), OUTCOME_NOT_OURS);
}

/* Each calibration reading closes its connection and opens the next; a
   stop keeps the readings still due for the next fetch. */
TEST_F(RequestTest, CalibrationConnectsAgainAndAStopKeepsWhatIsDue)
{
    TestTimeServer server(TimeReply::Now(0).KeepOpen());
    SetCalibrationsDue(request, 2);
    EXPECT_EQ(owner.Fetch(server.Address()).kind, OUTCOME_READING);
    EXPECT_LE(owner.reading.connectTime, owner.reading.lag);
    ASSERT_EQ(owner.outcomes.size(), 3u);
    EXPECT_EQ(owner.outcomes[0].kind, OUTCOME_CALIBRATION);
    EXPECT_EQ(server.Connections(), 3);
    EXPECT_TRUE(server.WaitForClosedByClient(3, 5000));

    TestTimeServer silent(TimeReply::NeverAnswer());
    SetCalibrationsDue(request, 2);
    Start(silent.Address());
    ASSERT_TRUE(silent.WaitForConnections(1, 5000));
    EXPECT_EQ(StopRequest(request, &outcome), OUTCOME_STOPPED);
    EXPECT_EQ(CalibrationsDue(request), 2u);
    EXPECT_TRUE(silent.WaitForClosedByClient(1, 5000));
}

TEST_F(RequestTest, ANotificationWithNothingToReadIsNoRead)
{
    WSASetLastError(WSAEWOULDBLOCK);
    EXPECT_TRUE(NothingToRead(SOCKET_ERROR));
    WSASetLastError(WSAECONNRESET);
    EXPECT_FALSE(NothingToRead(SOCKET_ERROR));
    WSASetLastError(WSAEWOULDBLOCK);
    EXPECT_FALSE(NothingToRead(0));
    EXPECT_FALSE(NothingToRead(4));
}

/* Every outcome that ends a request has ended it before the owner hears
   of it: a box the owner then shows sits on nothing live.  Replies that
   come later (a duplicate, a second kiss) find no socket. */
TEST_F(RequestTest, ARequestHasEndedWhenItsOutcomeArrives)
{
    main.state.protocol = PROTOCOL_SNTP;
    TestSntpServer good(SntpAnswer().Duplicate());
    TestSntpServer limiting(SntpAnswer().Kiss("RATE").Duplicate());
    TestSntpServer silent(SntpAnswer().Silent());
    for (const TestSntpServer *server : {&good, &limiting}) {
        RequestOutcome ended = owner.Fetch(server->Address());
        EXPECT_GE(ended.kind, OUTCOME_READING);
        EXPECT_FALSE(RequestRunning(request));
        EXPECT_EQ(ExchangeSocket(request), INVALID_SOCKET);
        EXPECT_FALSE(KillTimer(owner.window, REQUEST_TIMER_ID)) << "no timer left";
    }
    PumpUntil([] { return false; }, 300);
    EXPECT_EQ(owner.outcomes.size(), 2u) << "nothing more came of either";
    EXPECT_EQ(MannersOfServer(limiting)->holdMs, 4000u) << "the second kiss did not double the hold";
    EXPECT_EQ(owner.Fetch(silent.Address(), 7000).kind, OUTCOME_FAILED);
    EXPECT_FALSE(KillTimer(owner.window, REQUEST_TIMER_ID));
}

/* A fetch waits out a hold of up to 64 s and goes on, spacing its
   exchanges by the hold; a RATE kiss holds a periodic client off for twice
   its period, and a hold that long ends a fetch at once. */
TEST_F(RequestTest, AFetchWaitsOutAShortHoldAndAPeriodicClientIsHeldLonger)
{
    main.state.protocol = PROTOCOL_SNTP;
    TestSntpServer server({SntpAnswer().Kiss("RATE"), SntpAnswer()});
    ASSERT_EQ(owner.Fetch(server.Address()).kind, OUTCOME_FAILED);
    ASSERT_EQ(MannersOfServer(server)->holdMs, 4000u);
    /* The kiss came three seconds ago: one second of its hold is left. */
    MannersOfServer(server)->lastSendTick -= 3000;
    SetCalibrationsDue(request, 1);
    EXPECT_EQ(owner.Fetch(server.Address(), 8000).kind, OUTCOME_READING);
    EXPECT_EQ(CalibrationsDue(request), 0u);
    std::vector<long long> at = server.ReceivedAt();
    ASSERT_EQ(at.size(), 3u);
    EXPECT_GE(at[2] - at[1], 3990) << "the hold spaces the fetch's exchanges";

    TestSntpServer periodic(SntpAnswer().Kiss("RATE"));
    main.state.timeOut = 1;
    EXPECT_EQ(owner.Fetch(periodic.Address()).kind, OUTCOME_FAILED);
    EXPECT_EQ(MannersOfServer(periodic)->holdMs, 120000u);
    RequestOutcome refused = owner.Fetch(periodic.Address());
    EXPECT_EQ(refused.failure, FAILURE_HELD);
    EXPECT_EQ(std::string(refused.report),
              "Asked to slow down by: " + periodic.Address() + " (RATE): no request for 120 s more");
    EXPECT_EQ(periodic.Requests(), 1);
}

/* The protocol a fetch started with is the one it ends with. */
TEST_F(RequestTest, AFetchKeepsItsProtocolToItsEnd)
{
    main.state.protocol = PROTOCOL_SNTP;
    TestSntpServer server;
    SetCalibrationsDue(request, 1);
    main.state.host = ReplaceString(main.state.host, server.Address().c_str());
    ASSERT_EQ(StartRequest(owner.window, &main.state, &outcome), 1);
    ASSERT_TRUE(PumpUntil([&] { return !owner.outcomes.empty(); }, 3000));
    main.state.protocol = PROTOCOL_TIME;
    ASSERT_TRUE(PumpUntil([&] { return owner.outcomes.size() == 2; }, 5000));
    EXPECT_EQ(owner.outcomes[1].kind, OUTCOME_READING);
    EXPECT_TRUE(owner.reading.precise);
    EXPECT_EQ(server.Requests(), 2);
}

/* A name whose first address is dead or silent reads the time from the
   next one, within the same request; a dead one moves on at once, a
   silent one after two seconds.  The host stays as typed. */
TEST_F(RequestTest, ANameWorksWhileAnyOfItsAddressesAnswers)
{
    TestTimeServer refusedSecond(TimeReply::Now(0), "127.210.0.2");
    TestTimeServer silentFirst(TimeReply::NoConnection(), "127.210.1.1");
    TestTimeServer silentSecond(TimeReply::Now(0), "127.210.1.2");
    TestSntpServer unreachableSecond({SntpAnswer()}, "127.210.2.2");
    TestSntpServer silentSntpFirst({SntpAnswer().Silent()}, "127.210.3.1");
    TestSntpServer silentSntpSecond({SntpAnswer()}, "127.210.3.2");
    struct Row {
        const char *name;
        int protocol;
        DWORD atLeastMs;
    } rows[] = {
        {"refused.time.horavex.test", PROTOCOL_TIME, 0},
        {"silent.time.horavex.test", PROTOCOL_TIME, 1990},
        {"unreachable.sntp.horavex.test", PROTOCOL_SNTP, 0},
        {"silent.sntp.horavex.test", PROTOCOL_SNTP, 1990},
    };
    for (const Row &row : rows) {
        main.state.protocol = row.protocol;
        DWORD start = GetTickCount();
        EXPECT_EQ(owner.Fetch(row.name, 5000).kind, OUTCOME_READING) << row.name;
        DWORD took = GetTickCount() - start;
        EXPECT_GE(took, row.atLeastMs) << row.name;
        EXPECT_LT(took, row.atLeastMs + 1000) << row.name;
        EXPECT_STREQ(owner.reading.host, row.name);
    }
    EXPECT_EQ(silentSntpSecond.Requests(), 1);
}

/* Every address failed: the last one's report says how many there were. */
TEST_F(RequestTest, ANameWhoseAddressesAllFailReportsTheirCount)
{
    RequestOutcome failed = owner.Fetch("dead.time.horavex.test");
    EXPECT_EQ(failed.failure, FAILURE_CONNECTION);
    EXPECT_STREQ(failed.report, "Error connecting to: dead.time.horavex.test, 3 addresses tried");
}

/* A RATE from one address of a name holds that address, not the others;
   each keeps its own two seconds' spacing. */
TEST_F(RequestTest, AKissHoldsItsAddressNotTheName)
{
    main.state.protocol = PROTOCOL_SNTP;
    TestSntpServer limiting({SntpAnswer().Kiss("RATE")}, "127.210.4.1");
    TestSntpServer other({SntpAnswer()}, "127.210.4.2");
    EXPECT_EQ(owner.Fetch("kiss.sntp.horavex.test").kind, OUTCOME_READING);
    EXPECT_EQ(owner.Fetch("kiss.sntp.horavex.test", 5000).kind, OUTCOME_READING);
    EXPECT_EQ(limiting.Requests(), 1);
    std::vector<long long> at = other.ReceivedAt();
    ASSERT_EQ(at.size(), 2u);
    EXPECT_GE(at[1] - at[0], 1990);
}

/* A Time-protocol server that accepts and never answers holds no request
   for ever: a window's request ends after the reply's time limit, one
   without a window at its own limit, or at once when one of its stop
   events is set. */
TEST_F(RequestTest, ASilentServerHoldsNoRequestForEver)
{
    TestTimeServer silent(TimeReply::NeverAnswer());
    DWORD start = GetTickCount();
    RequestOutcome ended = owner.Fetch(silent.Address(), 7000);
    EXPECT_EQ(ended.kind, OUTCOME_FAILED);
    EXPECT_EQ(ended.failure, FAILURE_EXCHANGE);
    EXPECT_EQ(std::string(ended.report), "No answer from: " + silent.Address());
    EXPECT_GE(GetTickCount() - start, (DWORD)TIME_REPLY_LIMIT_MS - 10);

    TimeRequest *windowless = NewTimeRequest();
    HANDLE stops[2] = {CreateEventA(NULL, TRUE, FALSE, NULL),
                       CreateEventA(NULL, TRUE, FALSE, NULL)};
    FetchOrder order = {silent.Address().c_str(), PROTOCOL_TIME, 37, 0, FALSE, NULL, 1, NULL, NULL,
                        NULL};
    ASSERT_EQ(StartWindowlessFetch(windowless, &order, &outcome), 1);
    start = GetTickCount();
    EXPECT_EQ(RunRequest(windowless, stops, 2, 1000, &outcome), OUTCOME_FAILED);
    EXPECT_EQ(std::string(outcome.report), "No reading from: " + silent.Address() + " within 1 s");
    EXPECT_LT(GetTickCount() - start, 1500u);
    EXPECT_FALSE(RequestRunning(windowless));

    SetEvent(stops[1]);
    ASSERT_EQ(StartWindowlessFetch(windowless, &order, &outcome), 1);
    EXPECT_EQ(RunRequest(windowless, stops, 2, 5000, &outcome), OUTCOME_STOPPED);
    EXPECT_TRUE(silent.WaitForClosedByClient(3, 5000));
    FreeTimeRequest(windowless);
    CloseHandle(stops[0]);
    CloseHandle(stops[1]);
}

/* Several servers: one that stays silent is reported and left out, and
   the next of the list takes its place; calibration rounds ask every
   server chosen once more, and each server's smallest delay counts. */
TEST_F(RequestTest, SeveralServersReplaceTheSilentAndCalibrateInRounds)
{
    main.state.protocol = PROTOCOL_SNTP;
    main.state.sources = 3;
    TestSntpServer silent({SntpAnswer().Silent()});
    TestSntpServer servers[3];
    for (const TestSntpServer &server : servers)
        StringListAdd(&main.state.hosts, server.Address().c_str());
    DWORD start = GetTickCount();
    RequestOutcome read = owner.Fetch(silent.Address(), 5000);
    ASSERT_EQ(read.kind, OUTCOME_READING) << read.report;
    EXPECT_GE(GetTickCount() - start, (DWORD)ADDRESS_TIME_LIMIT_MS - 10) << "the silent one's limit";
    EXPECT_EQ(read.sample.sourceCount, 4);
    EXPECT_EQ(read.sample.sourcesAnswered, 3);
    EXPECT_EQ(read.sample.sources[0].state, SOURCE_FAILED);
    EXPECT_EQ(std::string(read.sample.sources[0].address), silent.Address());
    EXPECT_EQ(servers[2].Requests(), 1) << "asked once the silent one gave up";

    std::vector<SntpAnswer> slowThenQuick = {SntpAnswer().Delay(80), SntpAnswer()};
    TestSntpServer first(slowThenQuick), second(slowThenQuick), third(slowThenQuick);
    StringListClear(&main.state.hosts);
    StringListAdd(&main.state.hosts, second.Address().c_str());
    StringListAdd(&main.state.hosts, third.Address().c_str());
    SetCalibrationsDue(request, 1);
    size_t before = owner.outcomes.size();
    read = owner.Fetch(first.Address(), 8000);
    ASSERT_EQ(read.kind, OUTCOME_READING) << read.report;
    ASSERT_EQ(owner.outcomes.size(), before + 2);
    EXPECT_EQ(owner.outcomes[before].kind, OUTCOME_CALIBRATION);
    EXPECT_GE(owner.outcomes[before].sample.lag, 60u) << "the first round's delay";
    EXPECT_LT(read.sample.lag, 40u) << "each server's smallest delay counts";
    EXPECT_EQ(read.sample.sourcesAgreeing, 3);
    for (const TestSntpServer *server : {&first, &second, &third})
        EXPECT_EQ(server->Requests(), 2);
}
