#include <stdio.h>
#include <stdlib.h>

#include <fstream>
#include <string>
#include <vector>

#include "dialog.h"
#include "e2e.h"
#include "chrony.h"
#include "logfile.h"
#include "pump.h"
#include "resource.h"
#include "sntpserver.h"
#include "windowhelpers.h"

namespace {

const DWORD kWait = 10000;
const char kChronyAddress[] = "127.0.0.123";

} // namespace

class Sntp : public EndToEnd {
};

/* Quiet, logging, against chrony: the offset logged is within a
   millisecond of what ntpdig measures of the same server. */
TEST_F(Sntp, AReadingOfChronyAgreesWithNtpdig)
{
    ChronyPeer chrony;
    double reference = 0;
    ASSERT_TRUE(chrony.NtpdigOffset(&reference)) << "chrony did not answer ntpdig";
    TempLogFile log;
    SeedResident(kChronyAddress);
    SeedNumber("reportOnly", 0);
    SeedNumber("protocol", 1);
    SeedNumber("logOpts", 2);
    SeedText("logPath", log.Path());
    HoravexProcess horavex;
    ASSERT_TRUE(WaitUntil([&] { return log.Exists(); }, kWait));
    ASSERT_TRUE(horavex.Close());
    std::vector<std::string> lines;
    ASSERT_TRUE(log.Lines(&lines));
    ASSERT_EQ(lines.size(), 1u);
    std::vector<std::string> line = SplitFields(lines[0]);
    ASSERT_EQ(line.size(), 11u);
    EXPECT_EQ(line[0], kChronyAddress);
    EXPECT_NEAR(atof(line[7].c_str()), reference, 0.0015) << line[7] << " against " << reference;
    EXPECT_EQ(line[10], "reset") << "set to the millisecond";
}

/* IPv6: chrony on ::1 read by the address as written, in brackets, and by
   a name that has only that address, each within 2 ms of ntpdig. */
TEST_F(Sntp, AReadingOverIpv6AgreesWithNtpdig)
{
    ChronyPeer chrony("::1");
    double reference = 0;
    ASSERT_TRUE(chrony.NtpdigOffset(&reference)) << "chrony did not answer ntpdig on ::1";
    for (const char *host : {"::1", "[::1]", "v6only.horavex.test"}) {
        TempLogFile log;
        SeedResident(host);
        SeedNumber("reportOnly", 0);
        SeedNumber("protocol", 1);
        SeedNumber("logOpts", 2);
        SeedText("logPath", log.Path());
        HoravexProcess horavex;
        ASSERT_TRUE(WaitUntil([&] { return log.Exists(); }, kWait)) << host;
        ASSERT_TRUE(horavex.Close());
        std::vector<std::string> lines;
        ASSERT_TRUE(log.Lines(&lines));
        std::vector<std::string> line = SplitFields(lines.at(0));
        ASSERT_EQ(line.size(), 11u);
        EXPECT_EQ(line[0], host) << "the host as typed";
        EXPECT_NEAR(atof(line[7].c_str()), reference, 0.002) << host;
    }
}

/* The main dialog in SNTP mode: each calibration a real exchange shown
   with its delay, then the difference to the millisecond. */
TEST_F(Sntp, TheDialogShowsMillisecondsAndTheDelay)
{
    TestSntpServer server(SntpAnswer().Offset(250).Delay(30));
    SeedText("host", server.Address());
    SeedNumber("protocol", 1);
    SeedNumber("reportOnly", 1);
    SeedNumber("attempts", 1);
    HoravexProcess horavex;
    HWND dialog = WaitForDialogWith(horavex.Id(), IDC_MAIN_STARTUP, kWait);
    ASSERT_NE(dialog, (HWND)NULL);
    ASSERT_TRUE(WaitUntil([&] {
        return ControlText(dialog, IDC_MAIN_STATUS).find("Calibrating Lag (") == 0;
    }, kWait));
    long calibration = 0;
    EXPECT_EQ(sscanf(ControlText(dialog, IDC_MAIN_STATUS).c_str(), "Calibrating Lag (%ld ms)",
                     &calibration), 1);
    EXPECT_GE(calibration, 30);
    ASSERT_TRUE(WaitForControlText(dialog, IDC_MAIN_GETTIME, "&Get time", kWait));
    std::string diff = ControlText(dialog, IDC_MAIN_DIFF);
    EXPECT_EQ(diff.size(), 10u) << diff;
    EXPECT_EQ(diff.substr(5), " secs") << diff;
    EXPECT_NEAR(atof(diff.c_str()), 0.250, 0.005) << diff;
    EXPECT_GE(atol(ControlText(dialog, IDC_MAIN_LAG).c_str()), 30);
    EXPECT_EQ(server.Requests(), 2);
    ClickPosted(dialog, IDC_MAIN_EXIT);
    EXPECT_TRUE(horavex.WaitForExit(kWait));
}

/* The reading's request has ended before its box shows: held open past
   the exchange's time limit, the clock error box is the only one, and the
   dialog shows the reading once it is answered. */
TEST_F(Sntp, AClockErrorHeldOpenIsTheOnlyBox)
{
    TestSntpServer server(SntpAnswer().Offset(5000).Duplicate());
    SeedText("host", server.Address());
    SeedNumber("protocol", 1);
    SeedNumber("attempts", 0);
    BoxAnswerer clockErrors("horavex Error", IDOK, kAnyHoravex, 8000);
    BoxAnswerer others("Connection Error", IDOK, kAnyHoravex);
    HoravexProcess horavex;
    HWND dialog = WaitForDialogWith(horavex.Id(), IDC_MAIN_STARTUP, kWait);
    ASSERT_NE(dialog, (HWND)NULL);
    ASSERT_TRUE(WaitForWindow("#32770", "horavex Error", horavex.Id(), kWait));
    EXPECT_EQ(ControlText(dialog, IDC_MAIN_GETTIME), "&Get time") << "nothing runs under the box";
    ASSERT_TRUE(clockErrors.WaitForCount(1, 9000));
    ASSERT_TRUE(WaitUntil([&] { return !ControlText(dialog, IDC_MAIN_DIFF).empty(); }, 2000));
    EXPECT_NEAR(atof(ControlText(dialog, IDC_MAIN_DIFF).c_str()), 5.0, 0.05);
    EXPECT_EQ(clockErrors.Text(), "Error setting system time");
    EXPECT_EQ(others.Count(), 0) << others.Text();
    ClickPosted(dialog, IDC_MAIN_EXIT);
    EXPECT_TRUE(horavex.WaitForExit(kWait));
}

/* A failure's box shows after its request ended: held open past the time
   limit, no second box comes, and the duplicate of the kiss is not read. */
TEST_F(Sntp, AFailureHeldOpenIsTheOnlyBox)
{
    TestSntpServer server(SntpAnswer().Kiss("RATE").Duplicate());
    SeedText("host", server.Address());
    SeedNumber("protocol", 1);
    SeedNumber("attempts", 0);
    BoxAnswerer failures("Connection Error", IDOK, kAnyHoravex, 8000);
    HoravexProcess horavex;
    HWND dialog = WaitForDialogWith(horavex.Id(), IDC_MAIN_STARTUP, kWait);
    ASSERT_NE(dialog, (HWND)NULL);
    ASSERT_TRUE(WaitForWindow("#32770", "Connection Error", horavex.Id(), kWait));
    EXPECT_EQ(ControlText(dialog, IDC_MAIN_GETTIME), "&Get time");
    ASSERT_TRUE(failures.WaitForCount(1, 9000));
    EXPECT_FALSE(failures.WaitForCount(2, 300));
    EXPECT_EQ(failures.Text().substr(0, failures.Text().find('\r')),
              "Asked to slow down by: " + server.Address() + " (RATE): no request for 4 s");
    EXPECT_EQ(ControlText(dialog, IDC_MAIN_TIME), "");
    ClickPosted(dialog, IDC_MAIN_EXIT);
    EXPECT_TRUE(horavex.WaitForExit(kWait));
}
