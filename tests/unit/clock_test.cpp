#include <gtest/gtest.h>

#include "app/mainwnd.h"
#include "mainwindow.h"
#include "timeserver.h"
#include "windowhelpers.h"

/* Wine's SetSystemTime changes nothing: it succeeds only for a time within
   half a second of now and refuses any other.  A quiet fetch shows whether
   the program asked, and what Wine answered. */
class ClockPath : public MainWindowTest {
protected:
    void SetUp() override
    {
        MainWindowTest::SetUp();
        Create();
    }

    void FetchFrom(const TestTimeServer &server)
    {
        MakeQuiet(server.Address());
        State()->maxAdjust = 0;
    }
};

TEST_F(ClockPath, AServerAtTheLocalTimeLeavesTheClockAlone)
{
    /* Late in the second, a call for the whole second would be refused. */
    TestTimeServer server(TimeReply::Now(0).LateInSecond());
    BoxAnswerer clockErrors("horavex Error", IDOK);
    FetchFrom(server);
    ASSERT_TRUE(WaitForTitleChange(10000));
    EXPECT_EQ(clockErrors.Count(), 0);
}

TEST_F(ClockPath, AServerASecondAheadSetsTheClock)
{
    TestTimeServer server(TimeReply::Now(1).LateInSecond());
    BoxAnswerer clockErrors("horavex Error", IDOK);
    FetchFrom(server);
    ASSERT_TRUE(WaitForTitleChange(10000));
    EXPECT_EQ(clockErrors.Count(), 0);
}

TEST_F(ClockPath, AServerFarAwayGivesTheClockErrorBox)
{
    TestTimeServer server(TimeReply::Now(-3 * 3600));
    BoxAnswerer clockErrors("horavex Error", IDOK);
    FetchFrom(server);
    ASSERT_TRUE(clockErrors.WaitForCount(1, 10000));
    EXPECT_EQ(clockErrors.Text(), "Error setting system time");
    EXPECT_EQ(clockErrors.Owner(), window_);
    EXPECT_TRUE(WaitForTitleChange(5000)) << "the reading is still shown";
}

TEST_F(ClockPath, ReportOnlyNeverTouchesTheClock)
{
    TestTimeServer server(TimeReply::Now(-3 * 3600));
    BoxAnswerer clockErrors("horavex Error", IDOK);
    FetchFrom(server);
    State()->reportOnly = 1;
    ASSERT_TRUE(WaitForTitleChange(10000));
    EXPECT_EQ(clockErrors.Count(), 0);
}
