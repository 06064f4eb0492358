#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "base/globals.h"
#include "base/precisetime.h"
#include "base/stringlist.h"
#include "logfile.h"
#include "pump.h"
#include "statewindow.h"
#include "timeclient/adjustlimit.h"
#include "timeclient/clock.h"
#include "ui/applytime.h"
#include "windowhelpers.h"

namespace {

TimeSample Reading(LONG localTime, LONG serverTime)
{
    TimeSample sample;
    memset(&sample, 0, sizeof sample);
    sample.localTime = localTime;
    sample.serverTime = serverTime;
    return sample;
}

std::string BigChangeText(long long difference, unsigned long maxAdjust)
{
    return "The difference between the time returned and the current local time (" +
           std::to_string(difference) +
           " secs) is greater than the specified maximum adjustment (" +
           std::to_string(maxAdjust) + " secs).  Do you want to override this maximum?";
}

const LONG kLocal = 1000000000;

/* The next reading for the same owner, coming in through a prompt's loop. */
void CALLBACK ApplyAnotherReading(HWND window, UINT, UINT_PTR id, DWORD)
{
    KillTimer(window, id);
    TimeSample second = Reading(CurrentTime() - 3 * 3600, CurrentTime());
    ApplyTime(window, &second, AppStateOf(window));
}

class Policy : public ::testing::Test {
protected:
    StateWindow owner;

    TimeSample Check(LONG localTime, LONG serverTime)
    {
        TimeSample sample = Reading(localTime, serverTime);
        CheckAdjustLimit(&sample, owner.window);
        return sample;
    }
};

} // namespace

TEST_F(Policy, WithoutALimitEveryReadingResets)
{
    owner.state.maxAdjust = 0;
    owner.state.adjOpt = ADJOPT_IGNORE;
    TimeSample sample = Check(kLocal, kLocal + 86400 * 365);
    EXPECT_STREQ(sample.label, LABEL_RESET);
    EXPECT_EQ(sample.serverTime, kLocal + 86400 * 365);
    EXPECT_EQ(sample.localTime, kLocal);
}

TEST_F(Policy, ADifferenceOfExactlyTheLimitIsWithinIt)
{
    owner.state.maxAdjust = 60;
    owner.state.adjOpt = ADJOPT_IGNORE;
    for (LONG difference : {60, -60, 0, 59, -59}) {
        TimeSample sample = Check(kLocal, kLocal + difference);
        EXPECT_STREQ(sample.label, LABEL_RESET) << difference;
        EXPECT_EQ(sample.serverTime, kLocal + difference) << difference;
    }
}

TEST_F(Policy, OneSecondMoreIsBeyondIt)
{
    owner.state.maxAdjust = 60;
    owner.state.adjOpt = ADJOPT_IGNORE;
    for (LONG difference : {61, -61}) {
        TimeSample sample = Check(kLocal, kLocal + difference);
        EXPECT_STREQ(sample.label, LABEL_IGNORE) << difference;
        EXPECT_EQ(sample.serverTime, kLocal) << difference;
        EXPECT_EQ(sample.partialTime, difference > 0 ? kLocal + 60 : kLocal - 60) << difference;
    }
}

TEST_F(Policy, TheLimitIsComparedAsAnUnsignedNumber)
{
    owner.state.maxAdjust = 0x80000000u;
    owner.state.adjOpt = ADJOPT_IGNORE;
    TimeSample sample = Check(0, 2147483647);
    EXPECT_STREQ(sample.label, LABEL_RESET);
}

TEST_F(Policy, EveryOptionButAskAndIgnoreAccepts)
{
    owner.state.maxAdjust = 60;
    BoxAnswerer prompts("Big Change", IDCANCEL);
    for (int option : {2, 3, 7, -1}) {
        owner.state.adjOpt = option;
        TimeSample sample = Check(kLocal, kLocal - 500);
        EXPECT_STREQ(sample.label, LABEL_ACCEPT) << option;
        EXPECT_EQ(sample.serverTime, kLocal - 500) << option;
        EXPECT_EQ(sample.localTime, kLocal) << option;
    }
    EXPECT_EQ(prompts.Count(), 0);
}

TEST_F(Policy, AskingShowsTheDifferenceAndTheLimit)
{
    owner.state.maxAdjust = 60;
    BoxAnswerer prompt("Big Change", IDYES);
    TimeSample ahead = Check(kLocal, kLocal + 100);
    ASSERT_EQ(prompt.Count(), 1);
    EXPECT_EQ(prompt.Text(), BigChangeText(100, 60));
    EXPECT_EQ(prompt.Owner(), owner.window);
    EXPECT_STREQ(ahead.label, LABEL_ACCEPT);
    EXPECT_EQ(ahead.serverTime, kLocal + 100);

    TimeSample behind = Check(kLocal, kLocal - 100);
    ASSERT_EQ(prompt.Count(), 2);
    EXPECT_EQ(prompt.Text(), BigChangeText(-100, 60));
    EXPECT_STREQ(behind.label, LABEL_ACCEPT);
}

TEST_F(Policy, NoMovesTheClockByTheLimitTowardTheServer)
{
    owner.state.maxAdjust = 60;
    BoxAnswerer prompt("Big Change", IDNO);
    TimeSample behind = Check(kLocal, kLocal + 100);
    EXPECT_STREQ(behind.label, LABEL_PARTIAL);
    EXPECT_EQ(behind.serverTime, kLocal + 60);
    TimeSample ahead = Check(kLocal, kLocal - 100);
    EXPECT_STREQ(ahead.label, LABEL_PARTIAL);
    EXPECT_EQ(ahead.serverTime, kLocal - 60);
    EXPECT_EQ(ahead.localTime, kLocal);
}

TEST_F(Policy, CancelLeavesTheClockAlone)
{
    owner.state.maxAdjust = 60;
    BoxAnswerer prompt("Big Change", IDCANCEL);
    TimeSample sample = Check(kLocal, kLocal + 100);
    EXPECT_EQ(prompt.Count(), 1);
    EXPECT_STREQ(sample.label, LABEL_IGNORE);
    EXPECT_EQ(sample.serverTime, kLocal);
    EXPECT_EQ(sample.localTime, kLocal);
}

TEST_F(Policy, AQuestionThatCannotBeAskedIsNoConsent)
{
    owner.state.maxAdjust = 60;
    BoxAnswerer unexpected("Big Change", IDYES);
    TimeSample sample = Reading(kLocal, kLocal + 100);
    CheckAdjustLimit(&sample, reinterpret_cast<HWND>(static_cast<INT_PTR>(0x7ff0)));
    EXPECT_EQ(unexpected.Count(), 0);
    EXPECT_STREQ(sample.label, LABEL_IGNORE);
    EXPECT_EQ(sample.serverTime, kLocal);
}

TEST_F(Policy, TheWholeSecondsSpentDecidingMoveBothTimes)
{
    owner.state.maxAdjust = 60;
    BoxAnswerer prompt("Big Change", IDNO, GetCurrentProcessId(), 1300);
    DWORD start = GetTickCount();
    TimeSample sample = Check(kLocal, kLocal + 100);
    DWORD open = GetTickCount() - start;
    ASSERT_GE(open, 1000u);
    ASSERT_LT(open, 2000u);
    EXPECT_STREQ(sample.label, LABEL_PARTIAL);
    EXPECT_EQ(sample.localTime, kLocal + 1);
    EXPECT_EQ(sample.serverTime, kLocal + 60 + 1);
}

TEST_F(Policy, AnUnknownLocalClockIsNeitherMovedByTheLimitNorByTheWait)
{
    owner.state.maxAdjust = 60;
    BoxAnswerer prompt("Big Change", IDNO, GetCurrentProcessId(), 1100);
    TimeSample sample = Check(-1, kLocal);
    EXPECT_EQ(prompt.Text(), BigChangeText((long long)kLocal + 1, 60));
    EXPECT_STREQ(sample.label, LABEL_IGNORE) << "a move from an unknown clock would be made up";
    EXPECT_EQ(sample.serverTime, -1);
    EXPECT_EQ(sample.localTime, -1);
}

TEST_F(Policy, AnUnknownLocalClockIsStillSetOnAYes)
{
    owner.state.maxAdjust = 60;
    BoxAnswerer prompt("Big Change", IDYES);
    TimeSample sample = Check(-1, kLocal);
    EXPECT_STREQ(sample.label, LABEL_ACCEPT);
    EXPECT_EQ(sample.serverTime, kLocal);
}

/* Every outcome as the clock ends up: readings made up around now, early
   in the second, so that Wine's SetSystemTime accepts the time that the
   policy leaves exactly when that time is now; any other is refused with
   the clock error box. */
class PolicyOnTheClock : public ::testing::Test {
protected:
    StateWindow owner;
    TempLogFile log;
    BoxAnswerer clockErrors{"horavex Error", IDOK};
    LONG now = 0;

    void SetUp() override
    {
        owner.state.maxAdjust = 60;
        owner.state.logOpts = 2;
        owner.state.logPath = ReplaceString(owner.state.logPath, log.Path().c_str());
        WaitUntil([] {
            SYSTEMTIME t;
            GetSystemTime(&t);
            return t.wMilliseconds >= 20 && t.wMilliseconds < 250;
        }, 2000);
        now = CurrentTime();
    }

    /* Applies the reading; the fields of its log line. */
    std::vector<std::string> Apply(LONG localTime, LONG serverTime)
    {
        TimeSample sample = Reading(localTime, serverTime);
        ApplyTime(owner.window, &sample, &owner.state);
        std::vector<std::string> lines;
        EXPECT_TRUE(log.Lines(&lines));
        return lines.empty() ? std::vector<std::string>() : SplitFields(lines.back());
    }
};

TEST_F(PolicyOnTheClock, WithinTheLimitTheClockIsSetToTheServer)
{
    std::vector<std::string> line = Apply(now - 30, now);
    EXPECT_EQ(clockErrors.Count(), 0);
    ASSERT_EQ(line.size(), 11u);
    EXPECT_EQ(line[5], std::to_string(now));
    EXPECT_EQ(line[7], "30");
    EXPECT_EQ(line[10], "reset");
}

TEST_F(PolicyOnTheClock, AcceptSetsTheFullCorrection)
{
    owner.state.adjOpt = ADJOPT_ACCEPT;
    std::vector<std::string> line = Apply(now - 100, now);
    EXPECT_EQ(clockErrors.Count(), 0);
    ASSERT_EQ(line.size(), 11u);
    EXPECT_EQ(line[7], "100");
    EXPECT_EQ(line[10], "accept");
}

TEST_F(PolicyOnTheClock, YesSetsTheFullCorrection)
{
    BoxAnswerer prompt("Big Change", IDYES);
    std::vector<std::string> line = Apply(now + 100, now);
    EXPECT_EQ(prompt.Count(), 1);
    EXPECT_EQ(clockErrors.Count(), 0);
    ASSERT_EQ(line.size(), 11u);
    EXPECT_EQ(line[7], "-100");
    EXPECT_EQ(line[10], "accept");
}

TEST_F(PolicyOnTheClock, NoMovesTheClockByTheLimitForward)
{
    BoxAnswerer prompt("Big Change", IDNO);
    std::vector<std::string> line = Apply(now - 60, now + 40);
    EXPECT_EQ(clockErrors.Count(), 0) << "the clock was set to local + 60";
    ASSERT_EQ(line.size(), 11u);
    EXPECT_EQ(line[5], std::to_string(now)) << "the partial time is logged as the server's";
    EXPECT_EQ(line[7], "60");
    EXPECT_EQ(line[10], "partial");
}

TEST_F(PolicyOnTheClock, NoMovesTheClockByTheLimitBack)
{
    BoxAnswerer prompt("Big Change", IDNO);
    std::vector<std::string> line = Apply(now + 60, now - 40);
    EXPECT_EQ(clockErrors.Count(), 0) << "the clock was set to local - 60";
    ASSERT_EQ(line.size(), 11u);
    EXPECT_EQ(line[7], "-60");
    EXPECT_EQ(line[10], "partial");
}

TEST_F(PolicyOnTheClock, CancelAndIgnoreLeaveTheClockAlone)
{
    {
        BoxAnswerer prompt("Big Change", IDCANCEL);
        std::vector<std::string> line = Apply(now - 100, now);
        ASSERT_EQ(line.size(), 11u);
        EXPECT_EQ(line[10], "ignore");
        EXPECT_EQ(line[7], "0");
        EXPECT_EQ(line[3], line[4]) << "the same time of day twice";
    }
    owner.state.adjOpt = ADJOPT_IGNORE;
    std::vector<std::string> line = Apply(now - 100, now);
    ASSERT_EQ(line.size(), 11u);
    EXPECT_EQ(line[10], "ignore");
    EXPECT_EQ(line[5], std::to_string(now - 100));
    EXPECT_EQ(clockErrors.Count(), 0) << "a call for local - 100 would have been refused";
}

TEST_F(PolicyOnTheClock, ARefusedSettingIsLoggedAsFailed)
{
    owner.state.maxAdjust = 0;
    std::vector<std::string> line = Apply(now, now + 3600);
    EXPECT_EQ(clockErrors.Count(), 1);
    ASSERT_EQ(line.size(), 11u);
    EXPECT_EQ(line[10], "failed");
}

TEST_F(PolicyOnTheClock, AReadingWhileTheSameOwnersPromptIsOpenIsNotApplied)
{
    BoxAnswerer prompt("Big Change", IDCANCEL, GetCurrentProcessId(), 500);
    std::vector<std::string> nested;
    SetTimer(owner.window, 1, 50, ApplyAnotherReading);
    Apply(now - 100, now);
    EXPECT_EQ(prompt.Count(), 1) << "no second prompt";
    EXPECT_EQ(clockErrors.Count(), 0) << "no clock set for the second reading";
    std::vector<std::string> lines;
    log.Lines(&lines);
    EXPECT_EQ(lines.size(), 1u) << "and no line for it";
}

/* An SNTP reading: its offset against the limit to the 100 ns, the
   question in whole seconds rounded, and each answer on the offset. */
TEST_F(Policy, AnSntpReadingIsJudgedByItsOffset)
{
    const LONGLONG second = TICKS_PER_SECOND;
    struct Row {
        int answer;
        LONGLONG offset;
        const char *label;
        LONGLONG after;
        long long asked;
    } rows[] = {
        {IDYES, 60 * second, LABEL_RESET, 60 * second, 0},
        {IDYES, 60 * second + 1, LABEL_ACCEPT, 60 * second + 1, 60},
        {IDNO, 100 * second + second / 2, LABEL_PARTIAL, 60 * second, 101},
        {IDNO, -100 * second - second / 2 + 1, LABEL_PARTIAL, -60 * second, -100},
        {IDCANCEL, -70 * second, LABEL_IGNORE, 0, -70},
    };
    owner.state.maxAdjust = 60;
    for (const Row &row : rows) {
        BoxAnswerer prompt("Big Change", row.answer);
        TimeSample sample = Reading(0, 0);
        sample.precise = TRUE;
        sample.offset = row.offset;
        CheckAdjustLimit(&sample, owner.window);
        EXPECT_STREQ(sample.label, row.label) << row.offset;
        EXPECT_EQ(sample.offset, row.after) << row.offset;
        EXPECT_EQ(prompt.Count(), row.asked != 0 ? 1 : 0) << row.offset;
        if (row.asked != 0) {
            EXPECT_EQ(prompt.Text(), BigChangeText(row.asked, 60));
        }
    }
}
