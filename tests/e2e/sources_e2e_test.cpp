#include <stdlib.h>

#include <memory>
#include <string>
#include <vector>

#include "chrony.h"
#include "dialog.h"
#include "e2e.h"
#include "logfile.h"
#include "pump.h"
#include "resource.h"
#include "sntpserver.h"
#include "windowhelpers.h"

/* Several servers asked at once, and the clock set only from those that
   agree: scripted servers on the loopback addresses of the test hosts
   file, one of them 30 s off. */

namespace {

const DWORD kWait = 10000;

/* Servers on the given addresses; the last answers 30 s ahead when told. */
struct Servers {
    Servers(const std::vector<const char *> &addresses, int offThirty)
    {
        for (size_t i = 0; i < addresses.size(); i++) {
            SntpAnswer answer;
            if ((int)i >= (int)addresses.size() - offThirty)
                answer.Offset(30000);
            servers.push_back(std::make_unique<TestSntpServer>(std::vector<SntpAnswer>{answer},
                                                               addresses[i]));
        }
    }
    std::vector<std::unique_ptr<TestSntpServer>> servers;
};

/* "127.210.8.4 +30.001 left out": the address, the offset, the state. */
struct Asked {
    std::string address;
    double offset;
    std::string state;
};

std::vector<Asked> AskedOf(const std::vector<std::string> &line)
{
    std::vector<Asked> asked;
    for (size_t i = 11; i < line.size(); i++) {
        const std::string &field = line[i];
        size_t first = field.find(' ');
        size_t second = field.find(' ', first + 1);
        asked.push_back({field.substr(0, first), atof(field.c_str() + first + 1),
                         field.substr(second + 1)});
    }
    return asked;
}

} // namespace

class Sources : public EndToEnd {
protected:
    /* Settings under which a start asks several servers and logs each. */
    void SeedSeveral(const std::string &host, int sources)
    {
        SeedText("host", host);
        SeedNumber("protocol", 1);
        SeedNumber("sources", sources);
        SeedNumber("reportOnly", 0);
        SeedNumber("attempts", 0);
        SeedNumber("logOpts", 2);
        SeedText("logPath", log_.Path());
    }

    /* One quiet reading's verbose line, and the title it left. */
    std::vector<std::string> ReadQuietly(std::string *title = nullptr)
    {
        SeedNumber("quiet", 1);
        SeedNumber("sysTray", 1);
        HoravexProcess horavex;
        std::vector<std::string> lines;
        if (!WaitUntil([&] { return log_.Lines(&lines) && !lines.empty(); }, kWait))
            return {};
        if (title != nullptr)
            *title = WindowText(horavex.MainWindow());
        horavex.Close();
        return SplitFields(lines[0]);
    }

    TempLogFile log_;
};

/* A name with four addresses, one 30 s off: the clock is set from the
   three, the dialog names the falseticker and the log each server. */
TEST_F(Sources, OfAHostsAddressesTheOneThatIsOffIsLeftOut)
{
    Servers four({"127.210.8.1", "127.210.8.2", "127.210.8.3", "127.210.8.4"}, 1);
    SeedSeveral("four.sntp.horavex.test", 4);
    HoravexProcess horavex;
    HWND dialog = WaitForDialogWith(horavex.Id(), IDC_MAIN_STARTUP, kWait);
    ASSERT_NE(dialog, (HWND)NULL);
    ASSERT_TRUE(WaitUntil([&] { return !ControlText(dialog, IDC_MAIN_SOURCES).empty(); }, kWait));
    std::string agreement = ControlText(dialog, IDC_MAIN_SOURCES);
    const std::string named = "3 of 4 agree; 127.210.8.4 was +";
    ASSERT_EQ(agreement.substr(0, named.size()), named) << agreement;
    EXPECT_NEAR(atof(agreement.c_str() + named.size()), 30.0, 0.01) << agreement;
    EXPECT_NEAR(atof(ControlText(dialog, IDC_MAIN_DIFF).c_str()), 0.0, 0.005);
    ClickPosted(dialog, IDC_MAIN_EXIT);
    ASSERT_TRUE(horavex.WaitForExit(kWait));

    std::vector<std::string> lines;
    ASSERT_TRUE(log_.Lines(&lines));
    ASSERT_EQ(lines.size(), 1u);
    std::vector<std::string> line = SplitFields(lines[0]);
    EXPECT_EQ(line[0], "four.sntp.horavex.test");
    EXPECT_EQ(line[10], "reset");
    std::vector<Asked> asked = AskedOf(line);
    ASSERT_EQ(asked.size(), 4u) << lines[0];
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ(asked[i].address, "127.210.8." + std::to_string(i + 1));
        EXPECT_EQ(asked[i].state, i < 3 ? "taken" : "left out");
        EXPECT_NEAR(asked[i].offset, i < 3 ? 0.0 : 30.0, 0.005);
        EXPECT_EQ(four.servers[i]->Requests(), 1) << "all at once, once each";
    }
}

/* The host list supplies the servers the host lacks, each entry by its
   first address; a name for a server asked already counts once.  The
   title says in short who was off. */
TEST_F(Sources, TheListFillsInAndTwoNamesForOneServerCountOnce)
{
    Servers listed({"127.210.9.1", "127.210.9.2", "127.210.9.3", "127.210.9.4"}, 1);
    SeedSeveral("127.210.9.1", 4);
    SeedHosts({"127.210.9.2", "again.sntp.horavex.test", "listed.sntp.horavex.test",
               "127.210.9.4"});
    std::string title;
    std::vector<std::string> line = ReadQuietly(&title);
    ASSERT_GE(line.size(), 11u);
    EXPECT_EQ(line[10], "reset");
    std::vector<Asked> asked = AskedOf(line);
    ASSERT_EQ(asked.size(), 4u);
    EXPECT_EQ(asked[3].address, "127.210.9.4");
    EXPECT_EQ(asked[3].state, "left out");
    EXPECT_EQ(listed.servers[1]->Requests(), 1) << "asked under two names, once";
    EXPECT_NE(title.find(" (3 of 4 agree; 127.210.9.4 off)"), std::string::npos) << title;
}

/* Two against two: no majority, nothing set or logged, and the failure
   says how they disagree. */
TEST_F(Sources, TwoAgainstTwoSetNothing)
{
    Servers pair({"127.210.11.1", "127.210.11.2", "127.210.11.3", "127.210.11.4"}, 2);
    SeedSeveral("pair.sntp.horavex.test", 4);
    BoxAnswerer failures("Connection Error", IDOK, kAnyHoravex);
    HoravexProcess horavex;
    HWND dialog = WaitForDialogWith(horavex.Id(), IDC_MAIN_STARTUP, kWait);
    ASSERT_NE(dialog, (HWND)NULL);
    ASSERT_TRUE(failures.WaitForCount(1, kWait));
    const std::string said = "No agreement: 4 servers answered, at most 2 agree (127.210.11.1 ";
    EXPECT_EQ(failures.Text().substr(0, said.size()), said) << failures.Text();
    EXPECT_NE(failures.Text().find("127.210.11.4 +30.0"), std::string::npos) << failures.Text();
    EXPECT_EQ(ControlText(dialog, IDC_MAIN_DIFF), "");
    ClickPosted(dialog, IDC_MAIN_EXIT);
    ASSERT_TRUE(horavex.WaitForExit(kWait));
    EXPECT_FALSE(log_.Exists());
}

/* chrony, a real server, among scripted ones: taken, and the reading
   within a millisecond of what ntpdig measures of it. */
TEST_F(Sources, ChronyIsAmongThoseThatAgree)
{
    ChronyPeer chrony;
    double reference = 0;
    ASSERT_TRUE(chrony.NtpdigOffset(&reference));
    Servers scripted({"127.210.10.2", "127.210.10.3", "127.210.10.4"}, 1);
    SeedSeveral("127.0.0.123", 4);
    SeedHosts({"127.210.10.2", "127.210.10.3", "127.210.10.4"});
    std::vector<std::string> line = ReadQuietly();
    ASSERT_GE(line.size(), 11u);
    EXPECT_NEAR(atof(line[7].c_str()), reference, 0.0015);
    std::vector<Asked> asked = AskedOf(line);
    ASSERT_EQ(asked.size(), 4u);
    EXPECT_EQ(asked[0].address, "127.0.0.123");
    EXPECT_EQ(asked[0].state, "taken");
    EXPECT_EQ(asked[3].state, "left out");
}

/* One server, the default: the host alone is asked, whatever the list
   holds, and the line is today's. */
TEST_F(Sources, OneServerIsTodaysFetch)
{
    Servers one({"127.210.10.6", "127.210.10.7"}, 0);
    SeedSeveral("127.210.10.6", 1);
    SeedHosts({"127.210.10.7"});
    std::vector<std::string> line = ReadQuietly();
    EXPECT_EQ(line.size(), 11u);
    EXPECT_EQ(one.servers[0]->Requests(), 1);
    EXPECT_EQ(one.servers[1]->Requests(), 0);
}
