#include <stdlib.h>

#include <string>
#include <vector>

#include "app/mainwnd.h"
#include "base/serverlist.h"
#include "e2e.h"
#include "logfile.h"
#include "ntsserver.h"
#include "pump.h"
#include "windowhelpers.h"

namespace {

const DWORD kWait = 10000;

} // namespace

/* The real program, quiet and logging, against chrony over NTS, its CA
   named by the machine's settings. */
class Nts : public EndToEnd {
protected:
    void SeedNts(const TestNtsServer &server, const TempLogFile &log)
    {
        SeedResident(server.Address());
        SeedNumber("reportOnly", 0);
        SeedNumber("protocol", 2);
        SeedNumber("logOpts", 2);
        SeedText("logPath", log.Path());
        SeedText("ntsTrust", server.TrustFile());
    }
};

/* The clock is set from the authenticated reading, which the verbose line
   says, within a millisecond of what ntpdig measures of the same server. */
TEST_F(Nts, AnAuthenticatedReadingSetsTheClockAsChronySeesIt)
{
    TestNtsServer server;
    ASSERT_TRUE(server.Ready());
    double reference = 0;
    ASSERT_TRUE(server.NtpdigOffset(&reference));
    TempLogFile log;
    SeedNts(server, log);
    HoravexProcess horavex;
    ASSERT_TRUE(WaitUntil([&] { return log.Exists(); }, kWait));
    ASSERT_TRUE(horavex.Close());
    std::vector<std::string> lines;
    ASSERT_TRUE(log.Lines(&lines));
    ASSERT_EQ(lines.size(), 1u);
    std::vector<std::string> line = SplitFields(lines[0]);
    ASSERT_EQ(line.size(), 12u) << lines[0];
    EXPECT_EQ(line[0], server.Address());
    EXPECT_NEAR(atof(line[7].c_str()), reference, 0.001) << line[7] << " against " << reference;
    EXPECT_EQ(line[10], "reset");
    EXPECT_EQ(line[11], "authenticated");
}

/* Every reply changed on the way (the relay flips a bit of the time the
   server sealed): nothing is set or logged, and the title says why. */
TEST_F(Nts, AReplyChangedOnTheWaySetsAndLogsNothing)
{
    TestNtsServer server("chrony", "flip");
    ASSERT_TRUE(server.Ready());
    TempLogFile log;
    SeedNts(server, log);
    HoravexProcess horavex;
    HWND window = horavex.MainWindow();
    ASSERT_NE(window, (HWND)NULL);
    ASSERT_TRUE(WaitUntil([&] { return WindowText(window) != MAIN_WINDOW_TITLE; }, kWait));
    EXPECT_EQ(WindowText(window), "Reply not authenticated: " + server.Address() +
                                      " - Try another host (see " SERVER_LIST_URL
                                      " for a link to a list of alternative sites)");
    EXPECT_TRUE(horavex.Close());
    EXPECT_FALSE(log.Exists());
}
