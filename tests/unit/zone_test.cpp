#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "base/stringlist.h"
#include "logfile.h"
#include "persist/resultlog.h"
#include "statewindow.h"
#include "timeclient/adjustlimit.h"
#include "timeclient/clock.h"

/* This program runs with TZ=EET-2 in its environment: Wine takes its zone
   from it, and so does the C runtime's localtime (see docs/wine.md). */
TEST(EastOfUtc, TheRuntimeSeesTheZone)
{
    TIME_ZONE_INFORMATION zone;
    GetTimeZoneInformation(&zone);
    EXPECT_EQ(zone.Bias, -120);
    time_t midnight = 0;
    EXPECT_EQ(localtime(&midnight)->tm_hour, 2);
}

TEST(EastOfUtc, AReadingAfterLocalMidnightCarriesTheUtcDateOfTheDayBefore)
{
    StateWindow owner;
    TempLogFile log;
    owner.state.logOpts = 1;
    owner.state.logPath = ReplaceString(owner.state.logPath, log.Path().c_str());
    TimeSample sample;
    memset(&sample, 0, sizeof sample);
    /* 2026-03-01 23:30:00 UTC, 01:30 on 2 March two hours east. */
    sample.serverTime = sample.localTime = 1772407800;
    sample.label = LABEL_RESET;
    ASSERT_TRUE(ToUtcFields(&sample));
    ASSERT_EQ(WriteLogEntry(&sample, &owner.state), 1);

    std::vector<std::string> lines;
    ASSERT_TRUE(log.Lines(&lines));
    ASSERT_EQ(lines.size(), 1u);
    std::vector<std::string> line = SplitFields(lines[0]);
    char firstOfMarch[64];
    SYSTEMTIME day = {2026, 3, 0, 1, 0, 0, 0, 0};
    GetDateFormatA(LOCALE_SYSTEM_DEFAULT, DATE_SHORTDATE, &day, NULL, firstOfMarch,
                   sizeof firstOfMarch);
    EXPECT_EQ(line[1], firstOfMarch);
    EXPECT_EQ(line[3], "01:30:00");
    EXPECT_EQ(line[4], "01:30:00");
}
