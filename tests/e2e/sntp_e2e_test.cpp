#include <stdio.h>
#include <stdlib.h>

#include <fstream>
#include <string>
#include <vector>

#include "dialog.h"
#include "e2e.h"
#include "logfile.h"
#include "pump.h"
#include "resource.h"
#include "sntpserver.h"
#include "windowhelpers.h"

namespace {

const DWORD kWait = 10000;
const char kChronyAddress[] = "127.0.0.123";

/* Debian's chrony, a real NTP server nobody here wrote, on a loopback
   address of the test namespace: it never touches the clock (-x) and
   serves its own (local stratum 2). */
class ChronyPeer {
public:
    explicit ChronyPeer(const std::string &address = kChronyAddress)
        : folder_("/tmp/horavex-chrony-" + std::to_string(GetCurrentProcessId()) + "-" +
                  std::to_string(GetTickCount())),
          address_(address)
    {
        bool ipv6 = address.find(':') != std::string::npos;
        CreateDirectoryA(WindowsPath(folder_).c_str(), NULL);
        std::ofstream(WindowsPath(folder_ + "/chrony.conf"))
            << "bindaddress " << address << "\nport 123\nallow "
            << (ipv6 ? "::1" : "127.0.0.0/8") << "\n"
            << "local stratum 2\ncmdport 0\npidfile " << folder_ << "/chronyd.pid\n"
            << "driftfile " << folder_ << "/drift\n";
        /* Its own output, and a lifetime of its own should the test end
           without stopping it. */
        started_ = StartHostProgram("/bin/sh -c \"exec timeout 30 /usr/sbin/chronyd -d -x -u root -f " +
                                    folder_ + "/chrony.conf >" + folder_ + "/log 2>&1 </dev/null\"");
    }
    ~ChronyPeer()
    {
        StartHostProgram("/usr/bin/pkill -f " + folder_ + "/chrony.conf");
        WaitUntil([&] { return !Exists("/chronyd.pid"); }, 5000);
        for (const char *name : {"/chrony.conf", "/drift", "/log", "/ntpdig.json", "/ntpdig.err"})
            DeleteFileA(WindowsPath(folder_ + name).c_str());
        RemoveDirectoryA(WindowsPath(folder_).c_str());
    }

    /* The offset Debian's ntpdig measures, asked until chrony answers;
       false if it never did. */
    bool NtpdigOffset(double *offset)
    {
        std::string json = folder_ + "/ntpdig.json";
        bool answered = started_ && WaitUntil([&] {
            StartHostProgram("/bin/sh -c \"ntpdig -j " + address_ + " >" + json +
                             ".part 2>" + folder_ + "/ntpdig.err && mv " + json + ".part " + json +
                             "\"");
            return WaitUntil([&] { return Exists("/ntpdig.json"); }, 500);
        }, kWait);
        std::ifstream in(WindowsPath(json));
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        size_t at = text.find("\"offset\":");
        if (!answered || at == std::string::npos)
            return false;
        *offset = atof(text.c_str() + at + 9);
        return true;
    }

private:
    bool Exists(const char *name) const
    {
        return GetFileAttributesA(WindowsPath(folder_ + name).c_str()) != INVALID_FILE_ATTRIBUTES;
    }

    std::string folder_;
    std::string address_;
    bool started_ = false;
};

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
