#include <string.h>

#include <string>

#include "app/mainwnd.h"
#include "e2e.h"
#include "pump.h"
#include "timeclient/timesample.h"
#include "timeserver.h"
#include "windowhelpers.h"

namespace {

std::string TimeOfDay(uint32_t raw)
{
    TimeSample sample;
    memset(&sample, 0, sizeof sample);
    sample.serverTime = ServerTimeFromReply(raw);
    char text[512];
    FormatTimeOfDay(&sample, text, sizeof text);
    return text;
}

} // namespace

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
    BoxAnswerer clockError("horavex Error", IDOK, 0);
    HoravexProcess horavex;
    HWND window = horavex.MainWindow();
    ASSERT_NE(window, (HWND)NULL);
    ASSERT_TRUE(WaitUntil([&] { return WindowText(window) != MAIN_WINDOW_TITLE; }, 10000));
    ASSERT_EQ(server.Sent().size(), 1u);
    EXPECT_EQ(WindowText(window), TimeOfDay(server.Sent()[0]));
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
    HoravexProcess horavex;
    HWND window = horavex.MainWindow();
    ASSERT_TRUE(WaitUntil([&] { return WindowText(window) != MAIN_WINDOW_TITLE; }, 10000));
    EXPECT_EQ(WindowText(window).rfind("Error connecting to: " + server.Address() + " - ", 0), 0u);
    EXPECT_TRUE(horavex.Close());
}
