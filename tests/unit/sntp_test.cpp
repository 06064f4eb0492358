#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/precisetime.h"
#include "base/stringlist.h"
#include "requestowner.h"
#include "sntpserver.h"
#include "statewindow.h"
#include "timeclient/request.h"
#include "timeclient/sntp.h"
#include "windowhelpers.h"

namespace {

const double kMs = (double)TICKS_PER_MS;

LONGLONG TicksOfUnixTime(long long seconds)
{
    return TICKS_1601_TO_1970 + seconds * TICKS_PER_SECOND;
}

class SntpRequest : public ::testing::Test {
protected:
    StateWindow main;
    RequestOwner owner;
    std::vector<RequestOutcome> &outcomes = owner.outcomes;
    TimeSample &reading = owner.reading;

    void SetUp() override { main.state.protocol = PROTOCOL_SNTP; }

    RequestOutcome Fetch(const std::string &host, DWORD timeoutMs = 3000)
    {
        return owner.Fetch(host, timeoutMs);
    }
};

} // namespace

/* Each reply that fails a check ends the request with its reason, and
   none is taken as a reading. */
TEST_F(SntpRequest, EveryBadReplyIsReportedWithItsReason)
{
    struct Row {
        SntpAnswer answer;
        const char *before;
        const char *after;
    } rows[] = {
        {SntpAnswer().Length(47), "Invalid reply from: ", " (shorter than 48 bytes)"},
        {SntpAnswer().Mode(3), "Invalid reply from: ", " (mode 3, not a server's)"},
        {SntpAnswer().Version(0), "Invalid reply from: ", " (version 0)"},
        {SntpAnswer().Version(5), "Invalid reply from: ", " (version 5)"},
        {SntpAnswer().ZeroTransmit(), "Invalid reply from: ", " (no transmit time)"},
        {SntpAnswer().Leap(3), "Not synchronised: ", " (leap indicator 3)"},
        {SntpAnswer().Stratum(16), "Not synchronised: ", " (stratum 16)"},
        {SntpAnswer().Kiss("INIT"), "Not synchronised: ", " (kiss code INIT)"},
        {SntpAnswer().Kiss("DENY"), "Refused by: ", " (DENY): no more requests go to it"},
        {SntpAnswer().Kiss("RSTR"), "Refused by: ", " (RSTR): no more requests go to it"},
        {SntpAnswer().Kiss("RATE"), "Asked to slow down by: ", " (RATE): no request for 4 s"},
        {SntpAnswer().RootDispersion(16000), "Too uncertain: ", " (root distance 16.000 s)"},
        {SntpAnswer().ZeroReceive(), "Invalid reply from: ", " (no receive time)"},
        {SntpAnswer().TransmitEarly(1500), "Invalid reply from: ", " (transmit before receive)"},
        {SntpAnswer().Delay(3300), "Too uncertain: ", " (delay 3."},
        {SntpAnswer().Length(3000), "Invalid reply from: ", " (longer than 2048 bytes)"},
    };
    for (const Row &row : rows) {
        TestSntpServer server(row.answer);
        std::string expected = row.before + server.Address() + row.after;
        RequestOutcome outcome = Fetch(server.Address(), 5000);
        EXPECT_EQ(outcome.kind, OUTCOME_FAILED) << expected;
        EXPECT_EQ(std::string(outcome.report).substr(0, expected.size()), expected);
        EXPECT_EQ(ExchangeSocket(main.state.request), INVALID_SOCKET);
    }
    EXPECT_FALSE(reading.precise) << "no reading was taken";
}

/* The packet: LI 0, VN 4, mode 3, all zero but a random transmit time;
   the reply gives the offset to the millisecond, and its delay. */
TEST_F(SntpRequest, MeasuresAKnownOffsetAndDelay)
{
    TestSntpServer server(SntpAnswer().Offset(250).Delay(40));
    ASSERT_EQ(Fetch(server.Address()).kind, OUTCOME_READING);
    EXPECT_TRUE(reading.precise);
    EXPECT_NEAR(reading.offset / kMs, 250.0, 5.0);
    EXPECT_GE(reading.lag, 40u);
    EXPECT_LT(reading.lag, 500u);
    ASSERT_EQ(Fetch(server.Address()).kind, OUTCOME_READING) << "two seconds later";
    std::vector<std::string> sent = server.Received();
    ASSERT_EQ(sent.size(), 2u);
    for (const std::string &packet : sent) {
        ASSERT_EQ(packet.size(), 48u);
        EXPECT_EQ(packet[0], 0x23);
        EXPECT_EQ(packet.substr(1, 39), std::string(39, '\0'));
    }
    EXPECT_NE(sent[0].substr(40), sent[1].substr(40)) << "a new random cookie each time";
    std::vector<long long> at = server.ReceivedAt();
    ASSERT_EQ(at.size(), 2u);
    EXPECT_GE(at[1] - at[0], 1990) << "never two packets to a host within 2 s";
}

/* The server's time in the era that lies within 68 years of the clock:
   across 2036-02-07 and past 2038. */
TEST_F(SntpRequest, ReadsTimesAcrossTheEraAndPast2038)
{
    for (long long time : {UnixTime(2035, 12, 31, 23, 59, 58), UnixTime(2036, 2, 7, 6, 28, 20),
                           UnixTime(2040, 6, 1, 12, 0, 0)}) {
        TestSntpServer server(SntpAnswer().At(time));
        ASSERT_EQ(Fetch(server.Address()).kind, OUTCOME_READING) << time;
        LONGLONG shown = reading.localClock + reading.offset;
        EXPECT_NEAR((shown - TicksOfUnixTime(time)) / kMs, 0.0, 5.0) << time;
    }
    /* A clock in era 1 reads a server still in era 0. */
    LONGLONG inEra1 = TicksOfUnixTime(UnixTime(2036, 3, 1, 0, 0, 0));
    LONGLONG lateEra0 = TicksOfUnixTime(UnixTime(2036, 2, 7, 6, 28, 15));
    EXPECT_EQ(TicksFromNtp(NtpFromTicks(lateEra0), inEra1), lateEra0);
}

/* Calibration: real exchanges, two seconds apart; the one with the
   smallest delay is the one applied. */
TEST_F(SntpRequest, CalibrationTakesTheExchangeWithTheSmallestDelay)
{
    TestSntpServer server({SntpAnswer().Offset(1000).Delay(300), SntpAnswer().Offset(2000).Delay(20),
                           SntpAnswer().Offset(3000).Delay(200)});
    SetCalibrationsDue(main.state.request, 2);
    ASSERT_EQ(Fetch(server.Address(), 8000).kind, OUTCOME_READING);
    EXPECT_EQ(outcomes.size(), 3u) << "two calibrations, then the reading";
    EXPECT_NEAR(reading.offset / kMs, 2000.0, 5.0);
    EXPECT_LT(reading.lag, 200u);
    std::vector<long long> at = server.ReceivedAt();
    ASSERT_EQ(at.size(), 3u);
    EXPECT_GE(at[1] - at[0], 1990);
    EXPECT_GE(at[2] - at[1], 1990);
}

/* Replies that are not to our packet are never taken: the original is
   not ours, or the exchange was answered already. */
TEST_F(SntpRequest, RepliesThatAreNotOursAreIgnored)
{
    TestSntpServer first(SntpAnswer().Duplicate());
    ASSERT_EQ(Fetch(first.Address()).kind, OUTCOME_READING);
    EXPECT_NEAR(reading.offset / kMs, 0.0, 5.0) << "the first reply, not the second";

    TestSntpServer second(SntpAnswer().WrongOriginate());
    DWORD start = GetTickCount();
    RequestOutcome outcome = Fetch(second.Address(), 7000);
    EXPECT_GE(GetTickCount() - start, 4900u) << "waits out its time limit";
    EXPECT_EQ(outcome.kind, OUTCOME_FAILED);
    EXPECT_EQ(outcome.report, "No answer from: " + second.Address());
}

/* A port that nothing answers on ends the request at once, with the
   Windows Sockets error. */
TEST_F(SntpRequest, AnUnreachablePortEndsTheRequestAtOnce)
{
    RequestOutcome outcome = Fetch("127.0.0.3");
    EXPECT_EQ(outcome.kind, OUTCOME_FAILED);
    EXPECT_EQ(std::string(outcome.report).substr(0, 27), "No answer from: 127.0.0.3 (");
}

/* After DENY nothing more goes to the host, and the owner hears so at
   once; a new host starts afresh. */
/* A refusal holds the server's address until the program starts again:
   whatever name or spelling leads to it, and after other hosts. */
TEST_F(SntpRequest, ARefusalHoldsTheAddressWhateverLeadsToIt)
{
    TestSntpServer denying({SntpAnswer().Kiss("DENY")}, "127.210.6.1");
    TestSntpServer other;
    ASSERT_EQ(Fetch("deny.sntp.horavex.test").kind, OUTCOME_FAILED);
    EXPECT_EQ(Fetch(other.Address()).kind, OUTCOME_READING);
    for (const char *host : {"deny.sntp.horavex.test", "DENY.SNTP.HORAVEX.TEST",
                             "Deny.Sntp.Horavex.Test", "deny.sntp.horavex.tesT", "127.210.6.1"}) {
        RequestOutcome refused = Fetch(host);
        EXPECT_EQ(refused.failure, FAILURE_HELD) << host;
        EXPECT_EQ(std::string(refused.report),
                  std::string("Refused by: ") + host + " (DENY): no request sent");
    }
    EXPECT_EQ(denying.Requests(), 1);
}
