#include <gtest/gtest.h>

#include <string.h>
#include <time.h>

#include "timeclient/timeproto.h"
#include "timeclient/clock.h"
#include "timeserver.h"

namespace {

TimeSample SampleAt(LONG serverTime)
{
    TimeSample sample;
    memset(&sample, 0, sizeof sample);
    sample.serverTime = serverTime;
    sample.localTime = serverTime;
    return sample;
}

/* A blocking connection to the server whose reply is already waiting. */
SOCKET ConnectAndWait(const TestTimeServer &server)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in where = {};
    where.sin_family = AF_INET;
    where.sin_port = htons(37);
    where.sin_addr.s_addr = inet_addr(server.Address().c_str());
    if (connect(s, reinterpret_cast<sockaddr *>(&where), sizeof where) != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval wait = {5, 0};
    select(0, &readable, NULL, NULL, &wait);
    return s;
}

} // namespace

TEST(ServerTimeFromReply, MovesTheBaseFrom1900To1970)
{
    EXPECT_EQ(ServerTimeFromReply(2208988800u), 0);
    EXPECT_EQ(ServerTimeFromReply(3187296000u), 978307200);
    EXPECT_EQ(ServerTimeFromReply(3999999999u), 1791011199);
}

TEST(ServerTimeFromReply, FollowsTheServerCounterAcrossIts2036Wrap)
{
    EXPECT_EQ(ServerTimeFromReply(0u), 2085978496);
    EXPECT_EQ(ServerTimeFromReply(61505151u), 2147483647);
    EXPECT_EQ(ServerTimeFromReply(4294967295u), 2085978495);
}

TEST(ServerTimeFromReply, GivesNegativeTimesForDatesItCannotHold)
{
    EXPECT_LT(ServerTimeFromReply(61505152u), 0);
    EXPECT_LT(ServerTimeFromReply(2208988799u), 0);
}

TEST(CorrectForLag, AddsHalfTheLagInWholeSeconds)
{
    struct { DWORD lag; LONG added; } cases[] = {
        {0, 0}, {1999, 0}, {2000, 1}, {3999, 1}, {4000, 2}, {0xFFFFFFFFu, 2147483},
    };
    for (const auto &c : cases) {
        LONG corrected = -1;
        ASSERT_TRUE(CorrectForLag(1000, c.lag, &corrected)) << c.lag;
        EXPECT_EQ(corrected, 1000 + c.added) << c.lag;
    }
}

TEST(CorrectForLag, RefusesTimesBefore1970OrPast2038)
{
    LONG corrected = 7;
    EXPECT_FALSE(CorrectForLag(-1, 0, &corrected));
    EXPECT_FALSE(CorrectForLag(2147483647, 2000, &corrected));
    EXPECT_EQ(corrected, 7);
    EXPECT_TRUE(CorrectForLag(2147483646, 2000, &corrected));
    EXPECT_EQ(corrected, 2147483647);
}

TEST(CalendarFields, UtcFieldsOfKnownTimes)
{
    struct { LONG time; WORD year, month, day, hour, minute, second; } cases[] = {
        {0, 1970, 1, 1, 0, 0, 0},
        {978307200, 2001, 1, 1, 0, 0, 0},
        {2085978496, 2036, 2, 7, 6, 28, 16},
        {2147483647, 2038, 1, 19, 3, 14, 7},
        {951782400, 2000, 2, 29, 0, 0, 0},
    };
    for (const auto &c : cases) {
        TimeSample sample = SampleAt(c.time);
        sample.systemTime.wDayOfWeek = 9;
        sample.systemTime.wMilliseconds = 999;
        ASSERT_TRUE(ToUtcFields(&sample)) << c.time;
        const SYSTEMTIME &st = sample.systemTime;
        EXPECT_EQ(st.wYear, c.year) << c.time;
        EXPECT_EQ(st.wMonth, c.month) << c.time;
        EXPECT_EQ(st.wDay, c.day) << c.time;
        EXPECT_EQ(st.wHour, c.hour) << c.time;
        EXPECT_EQ(st.wMinute, c.minute) << c.time;
        EXPECT_EQ(st.wSecond, c.second) << c.time;
        EXPECT_EQ(st.wMilliseconds, 0) << "the clock is set to whole seconds";
        EXPECT_EQ(st.wDayOfWeek, 9) << "left as it was";
    }
}

TEST(CalendarFields, LocalFieldsFollowTheLocalZone)
{
    TimeSample sample = SampleAt(978307200);
    ASSERT_TRUE(ToLocalFields(&sample));
    time_t t = 978307200;
    const struct tm *local = localtime(&t);
    EXPECT_EQ(sample.systemTime.wHour, local->tm_hour);
    EXPECT_EQ(sample.systemTime.wDay, local->tm_mday);
}

TEST(CalendarFields, NegativeTimesHaveNone)
{
    TimeSample sample = SampleAt(-1);
    EXPECT_FALSE(ToUtcFields(&sample));
    EXPECT_EQ(sample.brokenDown, nullptr);
    EXPECT_FALSE(ToLocalFields(&sample));
    char text[64];
    FormatTimeOfDay(&sample, text, sizeof text);
    EXPECT_STREQ(text, NO_TIME_OF_DAY);
}

TEST(CalendarFields, TimeOfDayAsTheSystemLocaleWritesIt)
{
    TimeSample sample = SampleAt(978307200 + 9 * 3600 + 5 * 60 + 3);
    char text[512];
    int length = FormatTimeOfDay(&sample, text, sizeof text);
    char expected[512];
    GetTimeFormatA(LOCALE_SYSTEM_DEFAULT, LOCALE_NOUSEROVERRIDE, &sample.systemTime, NULL,
                   expected, sizeof expected);
    EXPECT_STREQ(text, expected);
    EXPECT_EQ(length, (int)strlen(expected));
}

class ReceiveTimeTest : public ::testing::Test {
protected:
    TimeSample sample;
    TimeReplyBytes gathered = {};
    DWORD startTick = GetTickCount();

    void SetUp() override { memset(&sample, 0xA5, sizeof sample); }

    int Receive(SOCKET s) { return ReceiveTime(&sample, s, &gathered, startTick); }
};

TEST_F(ReceiveTimeTest, ReadsTheFourBytesBigEndian)
{
    TestTimeServer server(TimeReply::Value(0xBDFA4700u));
    SOCKET s = ConnectAndWait(server);
    ASSERT_NE(s, INVALID_SOCKET);
    LONG before = CurrentTime();
    EXPECT_EQ(Receive(s), 4);
    closesocket(s);
    EXPECT_EQ(sample.serverTime, 978307200);
    EXPECT_GE(sample.localTime, before);
    EXPECT_LE(sample.localTime, CurrentTime());
    EXPECT_LT(sample.lag, 2000u);
}

TEST_F(ReceiveTimeTest, AddsHalfTheMeasuredLag)
{
    TestTimeServer server(TimeReply::Value(3187296000u));
    startTick = GetTickCount() - 4500;
    SOCKET s = ConnectAndWait(server);
    ASSERT_EQ(Receive(s), 4);
    closesocket(s);
    EXPECT_GE(sample.lag, 4500u);
    EXPECT_EQ(sample.serverTime, (LONG)(978307200 + sample.lag / 2000));
}

TEST_F(ReceiveTimeTest, APartOfTheReplyIsKeptAndTheRestAwaited)
{
    TestTimeServer server(TimeReply::Value(3187296000u).Bytes(2).KeepOpen());
    SOCKET s = ConnectAndWait(server);
    TimeSample untouched = sample;
    EXPECT_EQ(Receive(s), REPLY_INCOMPLETE);
    closesocket(s);
    EXPECT_EQ(memcmp(&sample, &untouched, sizeof sample), 0);
    EXPECT_EQ(gathered.length, 2u);
}

TEST_F(ReceiveTimeTest, AReplyInTwoPiecesIsOneReadingTimedAtItsLastByte)
{
    TestTimeServer server(TimeReply::Value(3187296000u).Split(300));
    SOCKET s = ConnectAndWait(server);
    int received = Receive(s);
    if (received == REPLY_INCOMPLETE)
        received = Receive(s); /* blocks until the rest comes */
    closesocket(s);
    ASSERT_EQ(received, 4);
    EXPECT_EQ(sample.serverTime, 978307200);
    EXPECT_GE(sample.lag, 300u);
}

TEST_F(ReceiveTimeTest, AnEmptyReplyChangesNothing)
{
    TestTimeServer server(TimeReply::CloseWithoutData());
    SOCKET s = ConnectAndWait(server);
    TimeSample untouched = sample;
    EXPECT_EQ(Receive(s), 0);
    closesocket(s);
    EXPECT_EQ(memcmp(&sample, &untouched, sizeof sample), 0);
}

TEST_F(ReceiveTimeTest, ATimeBefore1970IsRefusedLikeAnEmptyReply)
{
    TestTimeServer server(TimeReply::Value(2208988799u));
    SOCKET s = ConnectAndWait(server);
    TimeSample untouched = sample;
    EXPECT_EQ(Receive(s), 0);
    closesocket(s);
    EXPECT_EQ(memcmp(&sample, &untouched, sizeof sample), 0);
}

TEST_F(ReceiveTimeTest, TheLastTimeBefore2038IsARealReading)
{
    TestTimeServer server(TimeReply::Value(61505151u));
    SOCKET s = ConnectAndWait(server);
    EXPECT_EQ(Receive(s), 4);
    closesocket(s);
    EXPECT_EQ(sample.serverTime, 2147483647);
}
