#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <string>
#include <vector>

#include "base/globals.h"
#include "base/stringlist.h"
#include "logfile.h"
#include "persist/resultlog.h"
#include "statewindow.h"
#include "timeclient/adjustlimit.h"
#include "timeclient/clock.h"
#include "ui/applytime.h"
#include "windowhelpers.h"

namespace {

/* The time that reads hh:mm:ss local time on 2001-03-04. */
LONG LocalTimeAt(int hour, int minute, int second)
{
    struct tm fields = {};
    fields.tm_year = 101;
    fields.tm_mon = 2;
    fields.tm_mday = 4;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    fields.tm_isdst = -1;
    return (LONG)mktime(&fields);
}

class LogTest : public ::testing::Test {
protected:
    StateWindow owner;
    TempLogFile log;

    void SetUp() override
    {
        owner.state.host = ReplaceString(owner.state.host, "time.example.org");
        owner.state.logPath = ReplaceString(owner.state.logPath, log.Path().c_str());
    }

    /* A reading taken now, with the request's host and timings. */
    TimeSample Reading(LONG server, LONG local, const char *label)
    {
        TimeSample sample;
        memset(&sample, 0, sizeof sample);
        sample.serverTime = server;
        sample.localTime = local;
        sample.label = label;
        sample.lag = 250;
        sample.connectTime = 120;
        lstrcpynA(sample.host, TextOrEmpty(owner.state.host), sizeof sample.host);
        return sample;
    }

    int Append(LONG server, LONG local, const char *label, const char *date)
    {
        TimeSample sample = Reading(server, local, label);
        return AppendLogLine(&owner.state, &sample, date);
    }

    std::vector<std::string> OnlyLine()
    {
        std::vector<std::string> lines;
        EXPECT_TRUE(log.Lines(&lines)) << "every line ends in CR LF";
        EXPECT_EQ(lines.size(), 1u);
        return lines.empty() ? std::vector<std::string>() : SplitFields(lines[0]);
    }
};

} // namespace

TEST_F(LogTest, TheShortLayoutHasEightFields)
{
    owner.state.logOpts = 1;
    LONG local = LocalTimeAt(9, 5, 3);
    ASSERT_EQ(Append(local - 30, local, LABEL_RESET, "3/4/2001"), 1);
    std::vector<std::string> line = OnlyLine();
    EXPECT_EQ(line, (std::vector<std::string>{"time.example.org", "3/4/2001", "Test Zone",
                                              "09:04:33", "09:05:03", "-30", "250 ms",
                                              "reset"}));
}

TEST_F(LogTest, TheVerboseLayoutHasElevenFields)
{
    owner.state.logOpts = 2;
    LONG local = LocalTimeAt(23, 59, 58);
    ASSERT_EQ(Append(local + 3, local, LABEL_ACCEPT, "3/4/2001"), 1);
    std::vector<std::string> line = OnlyLine();
    EXPECT_EQ(line, (std::vector<std::string>{
                        "time.example.org", "3/4/2001", "Test Zone", "00:00:01", "23:59:58",
                        std::to_string(local + 3), std::to_string(local), "3", "250 ms",
                        "120 ms", "accept"}));
}

/* A reading of several servers under NTS: the verbose line says it was
   authenticated after the label, then names each server asked, with its
   offset and what became of it; the short line stays as it is. */
TEST_F(LogTest, AReadingOfSeveralServersNamesEachInTheVerboseLayout)
{
    TimeSample sample = Reading(1000, 1000, LABEL_RESET);
    sample.authenticated = TRUE;
    const struct {
        const char *address;
        int state;
        LONGLONG offset;
    } asked[] = {{"127.0.7.1", SOURCE_TAKEN, 12000},
                 {"::1", SOURCE_TAKEN, -30000},
                 {"127.0.7.4", SOURCE_LEFT_OUT, 300004000LL},
                 {"a\tb", SOURCE_FAILED, 0}};
    for (const auto &server : asked) {
        SourceReport *source = &sample.sources[sample.sourceCount++];
        lstrcpynA(source->address, server.address, sizeof source->address);
        source->state = server.state;
        source->offset = server.offset;
    }
    for (int logOpts : {1, 2}) {
        owner.state.logOpts = logOpts;
        DeleteFileA(log.Path().c_str());
        ASSERT_EQ(AppendLogLine(&owner.state, &sample, "d"), 1);
        std::vector<std::string> line = OnlyLine();
        if (logOpts == 1) {
            EXPECT_EQ(line.size(), 8u);
            continue;
        }
        ASSERT_EQ(line.size(), 16u);
        EXPECT_EQ(std::vector<std::string>(line.begin() + 10, line.end()),
                  (std::vector<std::string>{"reset", "authenticated", "127.0.7.1 +0.001 taken",
                                            "::1 -0.003 taken",
                                            "127.0.7.4 +30.000 left out", "a?b - failed"}));
    }
}

TEST_F(LogTest, EveryOtherOptionWritesTheVerboseLayout)
{
    owner.state.logOpts = 7;
    ASSERT_EQ(Append(1000, 1000, LABEL_IGNORE, "d"), 1);
    EXPECT_EQ(OnlyLine().size(), 11u);
}

TEST_F(LogTest, LinesAreAppended)
{
    owner.state.logOpts = 1;
    Append(1000, 1000, LABEL_RESET, "d");
    owner.state.host = ReplaceString(owner.state.host, "second.example");
    Append(1000, 1000, LABEL_RESET, "d");
    std::vector<std::string> lines;
    ASSERT_TRUE(log.Lines(&lines));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(SplitFields(lines[0])[0], "time.example.org");
    EXPECT_EQ(SplitFields(lines[1])[0], "second.example");
}

TEST_F(LogTest, AnIgnoredReadingShowsOneTimeTwiceAndNoDifference)
{
    owner.state.logOpts = 1;
    LONG local = LocalTimeAt(12, 0, 0);
    Append(local, local, LABEL_IGNORE, "d");
    std::vector<std::string> line = OnlyLine();
    ASSERT_EQ(line.size(), 8u);
    EXPECT_EQ(line[3], "12:00:00");
    EXPECT_EQ(line[4], "12:00:00");
    EXPECT_EQ(line[5], "0");
    EXPECT_EQ(line[7], "ignore");
}

TEST_F(LogTest, ALocalClockOutOfRangeHasNoTimeOfDay)
{
    owner.state.logOpts = 2;
    LONG server = LocalTimeAt(8, 0, 0);
    ASSERT_EQ(Append(server, -1, LABEL_ACCEPT, "d"), 1);
    std::vector<std::string> line = OnlyLine();
    ASSERT_EQ(line.size(), 11u);
    EXPECT_EQ(line[3], "08:00:00");
    EXPECT_EQ(line[4], "--:--:--");
    EXPECT_EQ(line[6], "-1");
    EXPECT_EQ(line[7], std::to_string((long long)server + 1));
}

TEST_F(LogTest, WriteLogEntryDatesTheLineWithTheUtcDate)
{
    owner.state.logOpts = 1;
    TimeSample sample = Reading(978307200 + 12 * 3600, 978307200 + 12 * 3600, LABEL_RESET);
    ToUtcFields(&sample);
    ASSERT_EQ(WriteLogEntry(&sample, &owner.state), 1);
    char date[64];
    SYSTEMTIME day = {2001, 1, 0, 1, 0, 0, 0, 0};
    GetDateFormatA(LOCALE_SYSTEM_DEFAULT, DATE_SHORTDATE, &day, NULL, date, sizeof date);
    EXPECT_EQ(OnlyLine()[1], date);
}

TEST_F(LogTest, AFolderIsNoLogFile)
{
    owner.state.logOpts = 1;
    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    owner.state.logPath = ReplaceString(owner.state.logPath, folder);
    EXPECT_EQ(Append(1000, 1000, LABEL_RESET, "d"), 0);
}

class LoggedReadings : public LogTest {
protected:
    BoxAnswerer logErrors{"Log Error", IDOK};
    BoxAnswerer clockErrors{"horavex Error", IDOK};

    TimeSample FarReading()
    {
        LONG local = CurrentTime();
        return Reading(local + 3 * 3600, local, NULL);
    }
};

/* The box names the path, cut to fit; no path at all names an empty one. */
TEST_F(LoggedReadings, ALineThatCannotBeWrittenIsReportedWithItsPath)
{
    const std::string missing = "C:\\no\\such\\folder\\horavex.log";
    const std::string longPath = "C:\\" + std::string(600, 'p');
    struct Row {
        const char *path;
        std::string shown;
    } rows[] = {
        {missing.c_str(), "Error writing to log file " + missing},
        {"", "Error writing to log file "},
        {NULL, "Error writing to log file "},
        {longPath.c_str(), ("Error writing to log file " + longPath).substr(0, 511)},
    };
    owner.state.logOpts = 1;
    owner.state.maxAdjust = 0;
    for (const Row &row : rows) {
        free(owner.state.logPath);
        owner.state.logPath = row.path != NULL ? strdup(row.path) : NULL;
        TimeSample sample = FarReading();
        sample.serverTime = sample.localTime;
        EXPECT_EQ(WriteLogEntry(&sample, &owner.state), 0) << row.shown;
        ApplyTime(owner.window, &sample, &owner.state);
        EXPECT_EQ(logErrors.Text(), row.shown);
    }
    EXPECT_EQ(logErrors.Count(), 4);
}

TEST_F(LoggedReadings, AReadingThatCannotBeWrittenIsReportedEveryTime)
{
    owner.state.logOpts = 1;
    owner.state.maxAdjust = 0;
    owner.state.logPath = ReplaceString(owner.state.logPath, "");
    for (int i = 0; i < 2; i++) {
        TimeSample sample = FarReading();
        sample.serverTime = sample.localTime;
        ApplyTime(owner.window, &sample, &owner.state);
    }
    ASSERT_EQ(logErrors.Count(), 2);
    EXPECT_EQ(logErrors.Text(), "Error writing to log file ");
    EXPECT_EQ(logErrors.Owner(), owner.window);
    EXPECT_EQ(clockErrors.Count(), 0);
}

TEST_F(LoggedReadings, TheClockErrorComesFirstAndTheLineIsStillWritten)
{
    owner.state.logOpts = 1;
    owner.state.maxAdjust = 0;
    TimeSample sample = FarReading();
    ApplyTime(owner.window, &sample, &owner.state);
    EXPECT_EQ(clockErrors.Count(), 1);
    EXPECT_EQ(logErrors.Count(), 0);
    EXPECT_EQ(OnlyLine()[7], "failed") << "a refusal is no reset";
}

TEST_F(LoggedReadings, AControlCharacterNeverReachesALine)
{
    owner.state.logOpts = 1;
    owner.state.maxAdjust = 0;
    owner.state.host = ReplaceString(owner.state.host, "a\tb\r\nc");
    TimeSample sample = FarReading();
    ApplyTime(owner.window, &sample, &owner.state);
    std::vector<std::string> line = OnlyLine();
    ASSERT_EQ(line.size(), 8u);
    EXPECT_EQ(line[0], "a?b??c");
}

TEST_F(LoggedReadings, BothBoxesCanFollowOneAnother)
{
    owner.state.logOpts = 1;
    owner.state.maxAdjust = 0;
    owner.state.logPath = ReplaceString(owner.state.logPath, "C:\\no\\such\\folder\\h.log");
    TimeSample sample = FarReading();
    ApplyTime(owner.window, &sample, &owner.state);
    EXPECT_EQ(clockErrors.Count(), 1);
    EXPECT_EQ(logErrors.Count(), 1);
}

TEST_F(LoggedReadings, ReportOnlyLogsNothing)
{
    owner.state.logOpts = 1;
    owner.state.reportOnly = 1;
    TimeSample sample = FarReading();
    ApplyTime(owner.window, &sample, &owner.state);
    EXPECT_FALSE(log.Exists());
    EXPECT_EQ(clockErrors.Count() + logErrors.Count(), 0);
}

TEST_F(LoggedReadings, LoggingOffWritesNothing)
{
    owner.state.logOpts = 0;
    owner.state.maxAdjust = 0;
    TimeSample sample = FarReading();
    sample.serverTime = sample.localTime;
    ApplyTime(owner.window, &sample, &owner.state);
    EXPECT_FALSE(log.Exists());
}
