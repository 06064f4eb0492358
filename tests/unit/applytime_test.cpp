#include <gtest/gtest.h>

#include <string.h>

#include "base/globals.h"
#include "statewindow.h"
#include "timeclient/clock.h"
#include "ui/applytime.h"
#include "windowhelpers.h"

namespace {

/* Three hours from now: far enough for Wine to refuse to set the clock. */
TimeSample FarReading()
{
    TimeSample sample;
    memset(&sample, 0, sizeof sample);
    sample.localTime = CurrentTime();
    sample.serverTime = sample.localTime - 3 * 3600;
    return sample;
}

class ApplyTimeTest : public ::testing::Test {
protected:
    StateWindow owner;
    BoxAnswerer clockErrors{"horavex Error", IDOK};

    void SetUp() override { owner.state.maxAdjust = 0; }
};

} // namespace

TEST_F(ApplyTimeTest, SetsTheClockAndReportsARefusal)
{
    TimeSample sample = FarReading();
    ApplyTime(owner.window, &sample, &owner.state);
    ASSERT_EQ(clockErrors.Count(), 1);
    EXPECT_EQ(clockErrors.Text(), "Error setting system time");
    EXPECT_EQ(clockErrors.Owner(), owner.window);
    EXPECT_STREQ(sample.label, "failed") << "the refusal, not the policy's reset";
    EXPECT_EQ(applyingTime[APPLY_MAIN_WINDOW], 0);
}

TEST_F(ApplyTimeTest, SetsTheClockInUtc)
{
    TimeSample sample = FarReading();
    ApplyTime(owner.window, &sample, &owner.state);
    time_t t = sample.serverTime;
    const struct tm *utc = gmtime(&t);
    EXPECT_EQ(sample.systemTime.wHour, utc->tm_hour);
    EXPECT_EQ(sample.systemTime.wDay, utc->tm_mday);
}

TEST_F(ApplyTimeTest, ReportOnlyDoesNothing)
{
    owner.state.reportOnly = 1;
    TimeSample sample = FarReading();
    ApplyTime(owner.window, &sample, &owner.state);
    EXPECT_EQ(clockErrors.Count(), 0);
    EXPECT_EQ(sample.label, nullptr);
}

TEST_F(ApplyTimeTest, AReadingWhileTheSameOwnerAppliesOneIsNotApplied)
{
    applyingTime[APPLY_MAIN_WINDOW] = 1;
    TimeSample sample = FarReading();
    ApplyTime(owner.window, &sample, &owner.state);
    EXPECT_EQ(clockErrors.Count(), 0);
    EXPECT_EQ(applyingTime[APPLY_MAIN_WINDOW], 1);
}

TEST_F(ApplyTimeTest, EachOwnerHasAGuardOfItsOwn)
{
    HWND dialog = CreateWindowExA(0, "STATIC", "dialog", WS_POPUP, 0, 0, 0, 0, NULL, NULL, NULL,
                                  NULL);
    applyingTime[APPLY_MAIN_WINDOW] = 1;
    TimeSample sample = FarReading();
    ApplyTime(dialog, &sample, &owner.state);
    EXPECT_EQ(clockErrors.Count(), 1);
    EXPECT_EQ(clockErrors.Owner(), dialog);
    EXPECT_EQ(applyingTime[APPLY_MAIN_DIALOG], 0);
    DestroyWindow(dialog);
}

TEST_F(ApplyTimeTest, AnEqualTimeMakesNoCall)
{
    TimeSample sample = FarReading();
    sample.serverTime = sample.localTime;
    ApplyTime(owner.window, &sample, &owner.state);
    EXPECT_EQ(clockErrors.Count(), 0);
    EXPECT_TRUE(SetClock(&sample));
}

TEST_F(ApplyTimeTest, ALocalClockOutOfRangeIsSetFromAValidReading)
{
    TimeSample sample = FarReading();
    sample.localTime = -1;
    ApplyTime(owner.window, &sample, &owner.state);
    EXPECT_EQ(clockErrors.Count(), 1) << "the call was made, and Wine refused it";
}

TEST_F(ApplyTimeTest, ATimeWithoutCalendarFieldsIsNeverSet)
{
    TimeSample sample = FarReading();
    sample.localTime = 1000;
    sample.serverTime = -5;
    EXPECT_FALSE(ToUtcFields(&sample));
    EXPECT_FALSE(SetClock(&sample));
}
