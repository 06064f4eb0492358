#include <memory>
#include <string>
#include <vector>

#include "e2e.h"
#include "pump.h"
#include "timeserver.h"
#include "windowhelpers.h"

class Robustness : public EndToEnd {
};

/* The end of the program, or of the Windows session, while the empty-host
   warning waits: what is saved is the whole record, never a half-read one. */
TEST_F(Robustness, AStartEndedDuringTheWarningKeepsTheSettings)
{
    enum Ending { CLOSE, SESSION_END };
    for (Ending ending : {CLOSE, SESSION_END}) {
        DeleteKeyTree(HKEY_LOCAL_MACHINE, VENDOR_KEY);
        SeedNumber("maxAdjust", 300);
        SeedNumber("autoStart", 0);
        SeedHosts({"x.invalid", "y.invalid"});
        HoravexProcess horavex;
        HWND box = WaitForWindow("#32770", "NTP Service", horavex.Id(), 10000);
        ASSERT_NE(box, (HWND)NULL);
        HWND window = horavex.MainWindow();
        ASSERT_NE(window, (HWND)NULL);
        if (ending == CLOSE) {
            PostMessageA(window, WM_CLOSE, 0, 0);
        } else {
            DWORD_PTR result = 0;
            SendMessageTimeoutA(window, WM_QUERYENDSESSION, 0, 0, SMTO_NORMAL, 5000, &result);
            EXPECT_EQ(result, (DWORD_PTR)TRUE);
            SendMessageTimeoutA(window, WM_ENDSESSION, TRUE, 0, SMTO_NORMAL, 5000, NULL);
        }
        /* Whether the box goes with the program or waits for its answer. */
        if (!horavex.WaitForExit(2000) && IsWindow(box))
            AnswerBox(box, IDOK);
        ASSERT_TRUE(horavex.WaitForExit(10000) || horavex.Close());
        EXPECT_EQ(horavex.ExitCode(), 0u) << ending;
        EXPECT_EQ(Number("maxAdjust"), 300) << ending;
        EXPECT_EQ(StoredHosts(), (std::vector<std::string>{"x.invalid", "y.invalid"})) << ending;
    }
}

/* An entry that cannot be read is skipped, not the end of the list, and a
   multi-string counts by its first text; the list saved is exactly the one
   read, though the key holds a subkey. */
TEST_F(Robustness, TheHostListSurvivesUnreadableEntriesMultiStringsAndASubkey)
{
    TestTimeServer server(TimeReply::NeverAnswer());
    SeedResident(server.Address());
    SeedHosts({"a.invalid", std::string(600, 'l'), "", "c.invalid"});
    SetRegDword(HKEY_LOCAL_MACHINE, HOSTS_KEY, "host2", 7);
    SetRegRaw(HKEY_LOCAL_MACHINE, HOSTS_KEY, "host4", REG_MULTI_SZ,
              std::string("m.invalid\0n.invalid\0", 21));
    SetRegString(HKEY_LOCAL_MACHINE, HOSTS_KEY "\\kept", "note", "a subkey of the user's");
    HoravexProcess horavex;
    ASSERT_NE(horavex.MainWindow(), (HWND)NULL);
    ASSERT_TRUE(horavex.Close());
    EXPECT_EQ(StoredHosts(), (std::vector<std::string>{"a.invalid", "c.invalid", "m.invalid"}));
    EXPECT_EQ(ReadRegValues(HKEY_LOCAL_MACHINE, HOSTS_KEY).size(), 3u) << "no stale entry";
}

/* A host with a control character is refused like a name that does not
   resolve, wherever it came from, and the report shows no line break of
   its own. */
TEST_F(Robustness, AHostWithAControlCharacterIsAnUnknownHost)
{
    struct Case {
        std::string stored;
        std::string commandLine;
        std::string shown;
    } cases[] = {
        {"bad\r\nhost", "", "bad??host"},
        {"127.0.0.1", "tab\there", "tab?here"},
    };
    for (const Case &row : cases) {
        DeleteKeyTree(HKEY_LOCAL_MACHINE, VENDOR_KEY);
        SeedResident(row.stored);
        HoravexProcess horavex(row.commandLine);
        HWND box = WaitForWindow("#32770", "Winsock Error", horavex.Id(), 10000);
        ASSERT_NE(box, (HWND)NULL);
        EXPECT_EQ(MessageBoxText(box), "\r\nhoravex: " + row.shown +
                                           ": unknown host\r\n11001: unknown error");
        AnswerBox(box, IDOK);
        ASSERT_TRUE(horavex.Close());
    }
}

/* Of starts at the same moment exactly one runs; the others end at once. */
TEST_F(Robustness, OfSimultaneousStartsExactlyOneRuns)
{
    TestTimeServer server(TimeReply::NeverAnswer());
    SeedResident(server.Address());
    std::vector<std::unique_ptr<HoravexProcess>> starts;
    for (int i = 0; i < 3; i++)
        starts.push_back(std::make_unique<HoravexProcess>());
    auto running = [&] {
        int count = 0;
        for (auto &start : starts)
            count += start->Running() ? 1 : 0;
        return count;
    };
    EXPECT_TRUE(WaitUntil([&] { return running() == 1; }, 10000)) << running();
    for (auto &start : starts) {
        if (start->Running()) {
            EXPECT_NE(start->MainWindow(), (HWND)NULL);
            EXPECT_TRUE(start->Close());
        }
        EXPECT_EQ(start->ExitCode(), 0u);
    }
    EXPECT_EQ(server.Connections(), 1) << "one program fetched";
}
