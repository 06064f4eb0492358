#include <string>
#include <vector>

#include "dialog.h"
#include "e2e.h"
#include "pump.h"
#include "resource.h"
#include "timeserver.h"
#include "windowhelpers.h"

namespace {

/* Runs the program until it rests, fetching from a server that never
   answers, then closes it as its Exit would. */
void RunResidentAndClose(const std::string &arguments = "")
{
    HoravexProcess horavex(arguments);
    ASSERT_TRUE(horavex.Started());
    ASSERT_NE(horavex.MainWindow(), (HWND)NULL);
    ASSERT_TRUE(horavex.Close());
    EXPECT_EQ(horavex.ExitCode(), 0u);
}

} // namespace

class Settings : public EndToEnd {
};

TEST_F(Settings, TheFirstStartWarnsOfTheMissingHostAndStoresTheDefaults)
{
    HoravexProcess horavex;
    HWND box = WaitForWindow("#32770", "NTP Service", horavex.Id(), 15000);
    ASSERT_NE(box, (HWND)NULL);
    EXPECT_EQ(MessageBoxText(box), kEmptyHostWarning);
    EXPECT_EQ(GetWindow(box, GW_OWNER), (HWND)NULL) << "owned by the desktop";
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, SETTINGS_KEY)) << "created by the start";
    EXPECT_EQ(Number("attempts"), -1) << "nothing is written before the end";
    EXPECT_EQ(WaitForDialogWith(horavex.Id(), IDC_MAIN_STARTUP, 1000), (HWND)NULL)
        << "nothing opens or fetches before the warning is answered";
    AnswerBox(box, IDOK);
    EXPECT_NE(WaitForDialogWith(horavex.Id(), IDC_MAIN_STARTUP, 10000), (HWND)NULL);
    ASSERT_TRUE(horavex.Close());
    EXPECT_EQ(horavex.ExitCode(), 0u);

    EXPECT_EQ(Text("host"), "");
    EXPECT_EQ(Number("attempts"), 3);
    EXPECT_EQ(Number("reportOnly"), 0);
    EXPECT_EQ(Number("autoStart"), 1);
    EXPECT_EQ(Number("autoClose"), 0);
    EXPECT_EQ(Number("sysTray"), 0);
    EXPECT_EQ(Number("quiet"), 0);
    EXPECT_EQ(Number("maxAdjust"), 120);
    EXPECT_EQ(Number("logOpts"), 0);
    EXPECT_EQ(Number("adjOpt"), 0);
    EXPECT_EQ(Text("logPath"), "");
    EXPECT_EQ(Number("timeOut"), 0);
    EXPECT_EQ(Number("protocol"), 0) << "the Time protocol";
    EXPECT_EQ(ReadRegValues(HKEY_LOCAL_MACHINE, SETTINGS_KEY).size(), 13u);
    RegValue host;
    ASSERT_TRUE(ReadRegValue(HKEY_LOCAL_MACHINE, SETTINGS_KEY, "host", &host));
    EXPECT_EQ(host.data, std::string(1, '\0')) << "the terminator is stored";
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, HOSTS_KEY)) << "an empty list leaves no key";
}

TEST_F(Settings, AStoredEmptyHostWarnsToo)
{
    SeedText("host", "");
    BoxAnswerer warning("NTP Service", IDOK, kAnyHoravex);
    HoravexProcess horavex;
    EXPECT_TRUE(warning.WaitForCount(1, 15000));
    if (!horavex.WaitForExit(3000))
        horavex.Close();
}

TEST_F(Settings, ACommandLineHostIsStoredAndNeedsNoWarning)
{
    SeedText("host", "old.example");
    BoxAnswerer warning("NTP Service", IDOK, kAnyHoravex);
    HoravexProcess horavex("new.example");
    ASSERT_TRUE(CloseOnceItsDialogShows(horavex));
    EXPECT_EQ(horavex.ExitCode(), 0u);
    EXPECT_EQ(warning.Count(), 0);
    EXPECT_EQ(Text("host"), "new.example");
}

TEST_F(Settings, ACommandLineHostCountsOnTheVeryFirstStart)
{
    BoxAnswerer warning("NTP Service", IDOK, kAnyHoravex);
    HoravexProcess horavex("first.example");
    ASSERT_TRUE(CloseOnceItsDialogShows(horavex));
    EXPECT_EQ(warning.Count(), 0);
    EXPECT_EQ(Text("host"), "first.example");
    EXPECT_EQ(Number("attempts"), 3);
}

/* Longer than the settings read back, it would replace the host with none:
   it is refused, and the start goes on with the host it had. */
TEST_F(Settings, ACommandLineHostTooLongToReadBackIsRefused)
{
    SeedText("host", "a.invalid");
    BoxAnswerer refusal("horavex Error", IDOK, kAnyHoravex);
    BoxAnswerer warning("NTP Service", IDOK, kAnyHoravex);
    HoravexProcess horavex(std::string(512, 'h'));
    ASSERT_TRUE(CloseOnceItsDialogShows(horavex));
    ASSERT_EQ(refusal.Count(), 1);
    EXPECT_EQ(refusal.Text(), "The host name on the command line is too long (more than 511 "
                              "characters): it was not stored");
    EXPECT_EQ(warning.Count(), 0);
    EXPECT_EQ(Text("host"), "a.invalid");
}

TEST_F(Settings, TheCommandLineIsStoredUnchanged)
{
    HoravexProcess horavex("\"two words\"");
    ASSERT_TRUE(CloseOnceItsDialogShows(horavex));
    EXPECT_EQ(Text("host"), "\"two words\"");
}

TEST_F(Settings, ASecondInstanceEndsAtOnceAndChangesNothing)
{
    TestTimeServer server(TimeReply::NeverAnswer());
    SeedResident(server.Address());
    HoravexProcess first;
    ASSERT_NE(first.MainWindow(), (HWND)NULL);
    ASSERT_TRUE(server.WaitForConnections(1, 10000));

    HoravexProcess second("other.example");
    ASSERT_TRUE(second.WaitForExit(10000));
    EXPECT_EQ(second.ExitCode(), 0u);
    EXPECT_EQ(Text("host"), server.Address());
    EXPECT_TRUE(first.Running());

    ASSERT_TRUE(first.Close());
    EXPECT_EQ(Text("host"), server.Address());
}

TEST_F(Settings, TheHostListComesBackDenselyWithoutBlankEntries)
{
    TestTimeServer server(TimeReply::NeverAnswer());
    SeedResident(server.Address());
    SeedHosts({" leading.blank", "", "plain.example", "\tb.example", "c.example"});
    RunResidentAndClose();
    EXPECT_EQ(StoredHosts(), (std::vector<std::string>{"plain.example", "c.example"}));
}

TEST_F(Settings, TheHostListEndsAtTheFirstMissingNumber)
{
    TestTimeServer server(TimeReply::NeverAnswer());
    SeedResident(server.Address());
    SetRegString(HKEY_LOCAL_MACHINE, HOSTS_KEY, "host0", "zero.example");
    SetRegString(HKEY_LOCAL_MACHINE, HOSTS_KEY, "host2", "two.example");
    RunResidentAndClose();
    EXPECT_EQ(StoredHosts(), (std::vector<std::string>{"zero.example"}));
    EXPECT_EQ(ReadRegValues(HKEY_LOCAL_MACHINE, HOSTS_KEY).size(), 1u);
}

TEST_F(Settings, AnEmptiedHostListLeavesNoKey)
{
    TestTimeServer server(TimeReply::NeverAnswer());
    SeedResident(server.Address());
    SeedHosts({"", " "});
    RunResidentAndClose();
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, HOSTS_KEY));
}

TEST_F(Settings, NumbersAreReadFromUpToFourBytesOrFromDecimalText)
{
    TestTimeServer server(TimeReply::NeverAnswer());
    SeedResident(server.Address());
    SetRegRaw(HKEY_LOCAL_MACHINE, SETTINGS_KEY, "maxAdjust", REG_SZ, std::string("12345678\0", 9));
    SetRegRaw(HKEY_LOCAL_MACHINE, SETTINGS_KEY, "attempts", REG_BINARY, std::string("\x07\x01", 2));
    SetRegRaw(HKEY_LOCAL_MACHINE, SETTINGS_KEY, "adjOpt", REG_QWORD, std::string(8, '\x01'));
    SetRegRaw(HKEY_LOCAL_MACHINE, SETTINGS_KEY, "timeOut", REG_SZ, std::string("7", 1));
    SetRegRaw(HKEY_LOCAL_MACHINE, SETTINGS_KEY, "autoStart", REG_DWORD, std::string());
    SetRegRaw(HKEY_LOCAL_MACHINE, SETTINGS_KEY, "autoClose", REG_SZ, std::string("1\0", 2));
    SetRegRaw(HKEY_LOCAL_MACHINE, SETTINGS_KEY, "logOpts", REG_SZ, std::string("2x\0", 3));
    RunResidentAndClose();
    EXPECT_EQ(Number("maxAdjust"), 12345678) << "a text that spells a number";
    EXPECT_EQ(Number("attempts"), 0x0107) << "two bytes, zero-extended";
    EXPECT_EQ(Number("adjOpt"), 0);
    EXPECT_EQ(Number("timeOut"), 7);
    EXPECT_EQ(Number("logOpts"), 0) << "not a plain number";
    EXPECT_EQ(Number("autoStart"), 1) << "no data: the default, not 0";
    EXPECT_EQ(Number("autoClose"), 1) << "not the byte of the digit";
}

TEST_F(Settings, AHostOf511CharactersIsReadWhole)
{
    TestTimeServer server(TimeReply::NeverAnswer());
    SeedResident(server.Address());
    std::string host(511, 'a');
    SeedText("host", host);
    BoxAnswerer warning("NTP Service", IDOK, kAnyHoravex);
    BoxAnswerer unknownHost("Winsock Error", IDOK, kAnyHoravex);
    RunResidentAndClose();
    EXPECT_EQ(warning.Count(), 0);
    EXPECT_EQ(Text("host"), host);
}

TEST_F(Settings, AHostOf512CharactersReadsAsNone)
{
    SeedText("host", std::string(512, 'a'));
    BoxAnswerer warning("NTP Service", IDOK, kAnyHoravex);
    HoravexProcess horavex;
    EXPECT_TRUE(warning.WaitForCount(1, 15000));
    ASSERT_TRUE(horavex.WaitForExit(5000) || horavex.Close());
    EXPECT_EQ(Text("host"), "");
}

TEST_F(Settings, AHostWithoutATerminatorIsReadToItsEnd)
{
    TestTimeServer server(TimeReply::NeverAnswer());
    SeedResident(server.Address());
    SetRegRaw(HKEY_LOCAL_MACHINE, SETTINGS_KEY, "host", REG_SZ, server.Address());
    BoxAnswerer warning("NTP Service", IDOK, kAnyHoravex);
    HoravexProcess horavex;
    ASSERT_TRUE(server.WaitForConnections(1, 10000)) << "it fetched from that host";
    ASSERT_TRUE(horavex.Close());
    EXPECT_EQ(warning.Count(), 0);
    EXPECT_EQ(Text("host"), server.Address());
}

TEST_F(Settings, AHostOf512CharactersWithoutATerminatorReadsAsNone)
{
    SetRegRaw(HKEY_LOCAL_MACHINE, SETTINGS_KEY, "host", REG_SZ, std::string(512, 'a'));
    BoxAnswerer warning("NTP Service", IDOK, kAnyHoravex);
    HoravexProcess horavex;
    EXPECT_TRUE(warning.WaitForCount(1, 15000));
    ASSERT_TRUE(horavex.WaitForExit(5000) || horavex.Close());
    EXPECT_EQ(Text("host"), "");
}

TEST_F(Settings, SoundEventsAreAddedWhenMissingAndKeptWhenSet)
{
    WriteProfileStringA("sounds", "horavexConnect", NULL);
    WriteProfileStringA("sounds", "horavexReset", "C:\\windows\\media\\ding.wav,horavex Reset");
    WriteProfileStringA("sounds", "horavexMaxAdj", "");
    HoravexProcess horavex("sounds.example");
    ASSERT_TRUE(CloseOnceItsDialogShows(horavex));
    char text[512];
    GetProfileStringA("sounds", "horavexConnect", "", text, sizeof text);
    EXPECT_STREQ(text, ",horavex Connect");
    GetProfileStringA("sounds", "horavexReset", "", text, sizeof text);
    EXPECT_STREQ(text, "C:\\windows\\media\\ding.wav,horavex Reset");
    GetProfileStringA("sounds", "horavexMaxAdj", "", text, sizeof text);
    EXPECT_STREQ(text, ",horavex Max Adjust");
}

TEST_F(Settings, EverySettingComesBackAsStored)
{
    TestTimeServer server(TimeReply::NeverAnswer());
    SeedResident(server.Address());
    SeedNumber("attempts", 7);
    SeedNumber("autoStart", 0);
    SeedNumber("autoClose", 1);
    SeedNumber("maxAdjust", 4000000000u);
    SeedNumber("logOpts", 2);
    SeedNumber("adjOpt", 1);
    SeedText("logPath", "C:\\logs\\horavex.log");
    SeedNumber("timeOut", 15);
    RunResidentAndClose();
    EXPECT_EQ(Text("host"), server.Address());
    EXPECT_EQ(Number("attempts"), 7);
    EXPECT_EQ(Number("reportOnly"), 1);
    EXPECT_EQ(Number("autoStart"), 0);
    EXPECT_EQ(Number("autoClose"), 1);
    EXPECT_EQ(Number("sysTray"), 1);
    EXPECT_EQ(Number("quiet"), 1);
    EXPECT_EQ(Number("maxAdjust"), 4000000000LL);
    EXPECT_EQ(Number("logOpts"), 2);
    EXPECT_EQ(Number("adjOpt"), 1);
    EXPECT_EQ(Text("logPath"), "C:\\logs\\horavex.log");
    EXPECT_EQ(Number("timeOut"), 15);
}

TEST_F(Settings, ACancelledSessionEndSavesNothingAndTheEndSavesAll)
{
    TestTimeServer server(TimeReply::NeverAnswer());
    SeedResident(server.Address());
    HoravexProcess horavex;
    HWND window = horavex.MainWindow();
    ASSERT_NE(window, (HWND)NULL);
    ASSERT_TRUE(server.WaitForConnections(1, 10000));

    SendMessageA(window, WM_ENDSESSION, FALSE, 0);
    EXPECT_FALSE(horavex.WaitForExit(300));
    EXPECT_EQ(Number("attempts"), -1);

    EXPECT_EQ(SendMessageA(window, WM_QUERYENDSESSION, 0, 0), 1);
    SendMessageA(window, WM_ENDSESSION, TRUE, 0);
    ASSERT_TRUE(horavex.WaitForExit(10000));
    EXPECT_EQ(horavex.ExitCode(), 0u);
    EXPECT_EQ(Number("attempts"), 3);
    EXPECT_EQ(Text("host"), server.Address());
    EXPECT_TRUE(server.WaitForClosedByClient(1, 5000)) << "its request's socket was closed";
}

/* The end of the Windows session does not destroy the open dialog: its
   host list is taken before the save. */
TEST_F(Settings, TheSessionsEndKeepsTheHostsOfTheOpenDialog)
{
    SeedText("host", "b.invalid");
    SeedNumber("autoStart", 0);
    SeedHosts({"a.invalid", "b.invalid", "c.invalid"});
    HoravexProcess horavex;
    HWND dialog = WaitForDialogWith(horavex.Id(), IDC_MAIN_STARTUP, 10000);
    ASSERT_NE(dialog, (HWND)NULL);
    TypeIntoCombo(dialog, IDC_MAIN_HOST, "");
    ASSERT_EQ(ComboEntries(dialog, IDC_MAIN_HOST).size(), 2u);
    EXPECT_EQ(SendMessageA(horavex.MainWindow(), WM_QUERYENDSESSION, 0, 0), 1);
    SendMessageA(horavex.MainWindow(), WM_ENDSESSION, TRUE, 0);
    ASSERT_TRUE(horavex.WaitForExit(10000));
    EXPECT_EQ(StoredHosts(), (std::vector<std::string>{"a.invalid", "c.invalid"}));
}

TEST_F(Settings, WhenTheSettingsCannotBeOpenedTheProgramRunsOnWithoutThem)
{
    DanglingKeyLink blocked(VENDOR_KEY);
    ASSERT_TRUE(blocked.Made());
    ASSERT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, SETTINGS_KEY));
    BoxAnswerer warning("NTP Service", IDOK, kAnyHoravex);
    HoravexProcess horavex("blocked.example");
    ASSERT_TRUE(CloseOnceItsDialogShows(horavex));
    EXPECT_EQ(horavex.ExitCode(), 0u);
    EXPECT_EQ(warning.Count(), 0) << "no warning without the key";
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, SETTINGS_KEY));
}

namespace {

long long UserNumber(const char *name)
{
    return ReadRegDword(HKEY_CURRENT_USER, SETTINGS_KEY, name);
}

/* Opens the dialog (no fetch), clicks Report only and ends the program as
   its Close does; false if the dialog did not show. */
bool ToggleReportOnlyAndClose(HoravexProcess &horavex, bool *shownChecked)
{
    HWND dialog = WaitForDialogWith(horavex.Id(), IDC_MAIN_STARTUP, 10000);
    if (dialog == NULL)
        return false;
    *shownChecked = IsChecked(dialog, IDC_MAIN_REPORTONLY);
    Click(dialog, IDC_MAIN_REPORTONLY);
    Click(dialog, IDC_MAIN_CLOSE);
    return horavex.WaitForExit(10000);
}

} // namespace

/* Without the right to write the machine's key (a program that is not
   elevated) the settings go to the same key of the user, which is read
   over the machine's; once the machine's key can be written again, it
   holds them and the user's copy goes. */
TEST_F(Settings, WhatTheMachineKeyCannotHoldTheUsersKeyKeeps)
{
    SeedText("host", "a.invalid");
    SeedNumber("autoStart", 0);
    SeedNumber("reportOnly", 0);
    SeedHosts({"a.invalid", "b.invalid"});
    BoxAnswerer errors("horavex Error", IDOK, kAnyHoravex);
    bool checked = true;
    {
        UnwritableKey machine(HKEY_LOCAL_MACHINE, SETTINGS_KEY);
        ASSERT_TRUE(machine.Made());
        HoravexProcess first;
        ASSERT_TRUE(ToggleReportOnlyAndClose(first, &checked));
        EXPECT_FALSE(checked);
        EXPECT_EQ(Number("reportOnly"), 0) << "the machine's key stays as it was";
        EXPECT_EQ(UserNumber("reportOnly"), 1);
        EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, SETTINGS_KEY, "host"), "a.invalid");
        EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, HOSTS_KEY, "host1"), "b.invalid");

        HoravexProcess second;
        ASSERT_TRUE(ToggleReportOnlyAndClose(second, &checked));
        EXPECT_TRUE(checked) << "the user's value wins";
        EXPECT_EQ(UserNumber("reportOnly"), 0);
    }
    HoravexProcess third;
    ASSERT_TRUE(ToggleReportOnlyAndClose(third, &checked));
    EXPECT_FALSE(checked);
    EXPECT_EQ(Number("reportOnly"), 1);
    EXPECT_EQ(StoredHosts(), (std::vector<std::string>{"a.invalid", "b.invalid"}));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, SETTINGS_KEY)) << "one newest set";
    EXPECT_EQ(errors.Count(), 0) << "nothing to tell while it works";
}

/* Settings that can be written nowhere are lost: said once, at an end the
   user asked for, not when Windows ends. */
TEST_F(Settings, SettingsThatCannotBeWrittenAnywhereAreReportedAtTheEnd)
{
    SeedText("host", "a.invalid");
    SeedNumber("autoStart", 0);
    SeedNumber("reportOnly", 0);
    UnwritableKey machine(HKEY_LOCAL_MACHINE, SETTINGS_KEY);
    UnwritableKey user(HKEY_CURRENT_USER, SETTINGS_KEY);
    ASSERT_TRUE(machine.Made() && user.Made());
    BoxAnswerer errors("horavex Error", IDOK, kAnyHoravex);

    HoravexProcess ended;
    ASSERT_NE(WaitForDialogWith(ended.Id(), IDC_MAIN_STARTUP, 10000), (HWND)NULL);
    SendMessageA(ended.MainWindow(), WM_ENDSESSION, TRUE, 0);
    ended.Close();
    EXPECT_EQ(errors.Count(), 0) << "Windows is ending";

    HoravexProcess closed;
    bool checked = true;
    ASSERT_TRUE(ToggleReportOnlyAndClose(closed, &checked));
    ASSERT_EQ(errors.Count(), 1);
    EXPECT_EQ(errors.Text(), "Error writing settings to the registry");
    EXPECT_EQ(Number("reportOnly"), 0);
}
