#include <stdio.h>

#include <string>

#include <windows.h>
#include <dlgs.h>

#include "dialog.h"
#include "e2e.h"
#include "pump.h"
#include "resource.h"
#include "windowhelpers.h"

namespace {

const DWORD kWait = 10000;

/* The program with its main dialog open, and a way into its Advanced
   Options. */
struct OptionsRun {
    HoravexProcess horavex;
    HWND main = WaitForDialogWith(horavex.Id(), IDC_MAIN_STARTUP, kWait);

    HWND OpenAdvanced()
    {
        ClickPosted(main, IDC_MAIN_ADVANCED);
        return WaitForDialogWith(horavex.Id(), IDC_ADV_VERBOSE, kWait);
    }
    bool Exit()
    {
        ClickPosted(main, IDC_MAIN_EXIT);
        return horavex.WaitForExit(kWait);
    }
};

bool Closes(HWND dialog)
{
    return WaitUntil([&] { return !IsWindow(dialog); }, kWait);
}

} // namespace

class Options : public EndToEnd {
protected:
    static void SeedOpening()
    {
        SeedText("host", "a.invalid");
        SeedNumber("autoStart", 0);
    }
};

TEST_F(Options, AdvancedShowsTheSettingsAndKeepsWhatOkAndTypingStore)
{
    SeedOpening();
    SeedNumber("sysTray", 1);
    SeedNumber("maxAdjust", 90);
    SeedNumber("adjOpt", 7);
    SeedNumber("attempts", 2);
    SeedNumber("timeOut", 5);
    SeedNumber("protocol", 5);
    SeedNumber("sources", 9);
    SeedText("logPath", "C:\\x\\old.log");
    OptionsRun run;
    ASSERT_NE(run.main, (HWND)NULL);
    HWND advanced = run.OpenAdvanced();
    ASSERT_NE(advanced, (HWND)NULL);
    EXPECT_EQ(ControlText(advanced, IDC_ADV_MAXADJUST), "90");
    EXPECT_TRUE(IsChecked(advanced, IDC_ADV_PROMPT)) << "an adjOpt of 7 reads as Prompt";
    EXPECT_FALSE(IsChecked(advanced, IDC_ADV_USELOG));
    EXPECT_EQ(ControlText(advanced, IDC_ADV_LOGPATH), "C:\\x\\old.log");
    EXPECT_EQ(ControlText(advanced, IDC_ADV_ATTEMPTS), "2");
    EXPECT_EQ(ControlText(advanced, IDC_ADV_PERIOD), "5");
    EXPECT_TRUE(IsEnabled(advanced, IDC_ADV_PERIOD));
    EXPECT_TRUE(IsEnabled(advanced, IDC_ADV_QUIET));
    EXPECT_FALSE(IsEnabled(advanced, IDC_ADV_VIEW)) << "no log to view";
    EXPECT_TRUE(IsChecked(advanced, IDC_ADV_TIMEPROTOCOL)) << "any protocol but 1 is Time's";
    EXPECT_EQ(ControlText(advanced, IDC_ADV_SOURCES), "1") << "9 servers read as 1";
    CheckRadioButton(advanced, IDC_ADV_TIMEPROTOCOL, IDC_ADV_SNTP, IDC_ADV_SNTP);
    TypeIntoEdit(advanced, IDC_ADV_SOURCES, "3");

    TypeIntoEdit(advanced, IDC_ADV_MAXADJUST, "x");
    EXPECT_EQ(ControlText(advanced, IDC_ADV_MAXADJUST), "90") << "a letter brings back the number";
    TypeIntoEdit(advanced, IDC_ADV_ATTEMPTS, "");
    EXPECT_EQ(ControlText(advanced, IDC_ADV_ATTEMPTS), "2");
    TypeIntoEdit(advanced, IDC_ADV_MAXADJUST, "60");
    Click(advanced, IDC_ADV_CANCEL);
    ASSERT_TRUE(Closes(advanced));

    advanced = run.OpenAdvanced();
    ASSERT_NE(advanced, (HWND)NULL);
    EXPECT_EQ(ControlText(advanced, IDC_ADV_MAXADJUST), "60") << "kept through Cancel";
    EXPECT_TRUE(IsChecked(advanced, IDC_ADV_TIMEPROTOCOL)) << "the protocol is stored at OK only";
    EXPECT_EQ(ControlText(advanced, IDC_ADV_SOURCES), "1") << "and so is the count";
    CheckRadioButton(advanced, IDC_ADV_TIMEPROTOCOL, IDC_ADV_SNTP, IDC_ADV_SNTP);
    TypeIntoEdit(advanced, IDC_ADV_SOURCES, "4");
    Click(advanced, IDC_ADV_USELOG);
    TypeIntoEdit(advanced, IDC_ADV_LOGPATH, "   ");
    Click(advanced, IDC_ADV_OK);
    EXPECT_TRUE(IsWindow(advanced)) << "logging without a path stays open";
    TypeIntoEdit(advanced, IDC_ADV_LOGPATH, "  C:\\logs\\new.log  ");
    Click(advanced, IDC_ADV_USELOG);
    Click(advanced, IDC_ADV_VERBOSE);
    CheckRadioButton(advanced, IDC_ADV_PROMPT, IDC_ADV_ACCEPT, IDC_ADV_ACCEPT);
    TypeIntoEdit(advanced, IDC_ADV_PERIOD, "15");
    Click(advanced, IDC_ADV_QUIET);
    Click(advanced, IDC_ADV_OK);
    ASSERT_TRUE(Closes(advanced));
    ASSERT_TRUE(run.Exit());

    EXPECT_EQ(Number("maxAdjust"), 60);
    EXPECT_EQ(Number("adjOpt"), 2);
    EXPECT_EQ(Number("logOpts"), 2) << "Verbose alone";
    EXPECT_EQ(Text("logPath"), "C:\\logs\\new.log") << "without the blanks";
    EXPECT_EQ(Number("timeOut"), 15);
    EXPECT_EQ(Number("quiet"), 1);
    EXPECT_EQ(Number("protocol"), 1);
    EXPECT_EQ(Number("sources"), 4);
}

/* The third protocol: NTS, stored as 2. */
TEST_F(Options, NtsIsTheThirdProtocol)
{
    SeedOpening();
    SeedNumber("protocol", 2);
    OptionsRun run;
    ASSERT_NE(run.main, (HWND)NULL);
    HWND advanced = run.OpenAdvanced();
    ASSERT_NE(advanced, (HWND)NULL);
    EXPECT_EQ(ControlText(advanced, IDC_ADV_NTS), "NTS (TLS 4460)");
    EXPECT_TRUE(IsChecked(advanced, IDC_ADV_NTS));
    EXPECT_FALSE(IsChecked(advanced, IDC_ADV_SNTP));
    CheckRadioButton(advanced, IDC_ADV_TIMEPROTOCOL, IDC_ADV_NTS, IDC_ADV_TIMEPROTOCOL);
    Click(advanced, IDC_ADV_OK);
    ASSERT_TRUE(Closes(advanced));
    advanced = run.OpenAdvanced();
    ASSERT_NE(advanced, (HWND)NULL);
    EXPECT_TRUE(IsChecked(advanced, IDC_ADV_TIMEPROTOCOL));
    CheckRadioButton(advanced, IDC_ADV_TIMEPROTOCOL, IDC_ADV_NTS, IDC_ADV_NTS);
    Click(advanced, IDC_ADV_OK);
    ASSERT_TRUE(Closes(advanced));
    ASSERT_TRUE(run.Exit());
    EXPECT_EQ(Number("protocol"), 2);
}

/* OK checks the path and the count of servers before it stores
   anything: after the beep, Cancel leaves every setting as it was. */
TEST_F(Options, ARefusedPathStoresNothing)
{
    SeedOpening();
    SeedNumber("sysTray", 1);
    SeedNumber("timeOut", 5);
    OptionsRun run;
    ASSERT_NE(run.main, (HWND)NULL);
    HWND advanced = run.OpenAdvanced();
    ASSERT_NE(advanced, (HWND)NULL);
    CheckRadioButton(advanced, IDC_ADV_TIMEPROTOCOL, IDC_ADV_SNTP, IDC_ADV_SNTP);
    CheckRadioButton(advanced, IDC_ADV_PROMPT, IDC_ADV_ACCEPT, IDC_ADV_ACCEPT);
    TypeIntoEdit(advanced, IDC_ADV_PERIOD, "15");
    Click(advanced, IDC_ADV_QUIET);
    Click(advanced, IDC_ADV_VERBOSE);
    TypeIntoEdit(advanced, IDC_ADV_LOGPATH, "");
    Click(advanced, IDC_ADV_OK);
    EXPECT_TRUE(IsWindow(advanced)) << "logging without a path stays open";
    TypeIntoEdit(advanced, IDC_ADV_LOGPATH, "C:\\logs\\x.log");
    for (const char *count : {"0", "9", ""}) {
        TypeIntoEdit(advanced, IDC_ADV_SOURCES, count);
        Click(advanced, IDC_ADV_OK);
        EXPECT_TRUE(IsWindow(advanced)) << "asking " << count << " servers stays open";
    }
    Click(advanced, IDC_ADV_CANCEL);
    ASSERT_TRUE(Closes(advanced));
    ASSERT_TRUE(run.Exit());
    EXPECT_EQ(Number("protocol"), 0);
    EXPECT_EQ(Number("adjOpt"), 0);
    EXPECT_EQ(Number("logOpts"), 0);
    EXPECT_EQ(Number("timeOut"), 5);
    EXPECT_EQ(Number("quiet"), 0);
    EXPECT_EQ(Number("sources"), -1) << "never stored at its default";
}

TEST_F(Options, WithoutTheTrayThePeriodAndQuietStayAsTheyWere)
{
    SeedOpening();
    SeedNumber("timeOut", 5);
    SeedNumber("adjOpt", 7);
    OptionsRun run;
    ASSERT_NE(run.main, (HWND)NULL);
    HWND advanced = run.OpenAdvanced();
    ASSERT_NE(advanced, (HWND)NULL);
    EXPECT_FALSE(IsEnabled(advanced, IDC_ADV_PERIOD));
    EXPECT_FALSE(IsEnabled(advanced, IDC_ADV_QUIET));
    BoxAnswerer quiet("Horavex quiet", IDOK, run.horavex.Id());
    Click(advanced, IDC_ADV_QUIET);
    ASSERT_TRUE(quiet.WaitForCount(1, kWait));
    EXPECT_EQ(quiet.Text(), "Horavex must be in the systray to run quietly");
    EXPECT_TRUE(WaitUntil([&] { return !IsChecked(advanced, IDC_ADV_QUIET); }, kWait));
    SetControlText(advanced, IDC_ADV_PERIOD, "30");
    Click(advanced, IDC_ADV_CANCEL);
    ASSERT_TRUE(Closes(advanced));
    ASSERT_TRUE(run.Exit());
    EXPECT_EQ(Number("timeOut"), 5);
    EXPECT_EQ(Number("quiet"), 0);
    EXPECT_EQ(Number("adjOpt"), 0) << "corrected at opening, kept through Cancel";
}

/* The file dialog starts in the folder of the path in the field and
   proposes its name; the choice comes back in lower case. */
TEST_F(Options, TheLogFileIsChosenInTheFileDialog)
{
    SeedOpening();
    SeedText("logPath", "C:\\windows\\proposed.log");
    OptionsRun run;
    ASSERT_NE(run.main, (HWND)NULL);
    HWND advanced = run.OpenAdvanced();
    ASSERT_NE(advanced, (HWND)NULL);
    ClickPosted(advanced, IDC_ADV_LOGFILE);
    HWND chooser = WaitForWindow("#32770", "Select Log File", run.horavex.Id(), kWait);
    ASSERT_NE(chooser, (HWND)NULL);
    const int fileNameId = GetDlgItem(chooser, cmb13) != NULL ? cmb13 : edt1;
    EXPECT_TRUE(WaitForControlText(chooser, fileNameId, "proposed.log", kWait))
        << ControlText(chooser, fileNameId);
    SetControlText(chooser, fileNameId, "Chosen.LOG");
    PostMessageA(chooser, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitForControlText(advanced, IDC_ADV_LOGPATH, "c:\\windows\\chosen.log", kWait))
        << ControlText(advanced, IDC_ADV_LOGPATH);
    Click(advanced, IDC_ADV_CANCEL);
    ASSERT_TRUE(Closes(advanced));
    EXPECT_TRUE(run.Exit());
}

TEST_F(Options, ViewOpensTheStoredLogInNotepad)
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::string folder = std::string(temp) + "horavex view test";
    std::string log = folder + "\\seen.log";
    CreateDirectoryA(folder.c_str(), NULL);
    FILE *file = fopen(log.c_str(), "w");
    ASSERT_NE(file, nullptr);
    fputs("a line\n", file);
    fclose(file);
    SeedOpening();
    SeedNumber("logOpts", 1);
    SeedText("logPath", log);
    OptionsRun run;
    ASSERT_NE(run.main, (HWND)NULL);
    HWND advanced = run.OpenAdvanced();
    ASSERT_NE(advanced, (HWND)NULL);
    ASSERT_TRUE(IsEnabled(advanced, IDC_ADV_VIEW));
    SetControlText(advanced, IDC_ADV_LOGPATH, "C:\\elsewhere.log");
    Click(advanced, IDC_ADV_VIEW);
    HWND notepad = WaitForWindow("Notepad", NULL, 0, kWait);
    ASSERT_NE(notepad, (HWND)NULL);
    EXPECT_NE(WindowText(notepad).find("seen.log"), std::string::npos) << WindowText(notepad);
    PostMessageA(notepad, WM_CLOSE, 0, 0);
    Click(advanced, IDC_ADV_CANCEL);
    EXPECT_TRUE(run.Exit());
    DeleteFileA(log.c_str());
    RemoveDirectoryA(folder.c_str());
}

TEST_F(Options, TheAboutBoxShowsTheBuildStampAndClosesEveryWay)
{
    SeedOpening();
    OptionsRun run;
    ASSERT_NE(run.main, (HWND)NULL);
    for (int way = 0; way < 3; way++) {
        ClickPosted(run.main, IDC_MAIN_ABOUT);
        HWND about = WaitForDialogWith(run.horavex.Id(), IDC_ABOUT_STAMP, kWait);
        ASSERT_NE(about, (HWND)NULL);
        char month[4] = "";
        int day = 0, year = 0, hours = -1, minutes = -1, seconds = -1;
        std::string stamp = ControlText(about, IDC_ABOUT_STAMP);
        EXPECT_EQ(sscanf(stamp.c_str(), "Compile: %3s %d %d %d:%d:%d", month, &day, &year, &hours,
                         &minutes, &seconds),
                  6)
            << stamp;
        EXPECT_GE(year, 2026);
        if (way == 0)
            PressEscape(about);
        else if (way == 1)
            PostMessageA(about, WM_COMMAND, IDOK, 0); /* Enter */
        else
            ClickPosted(about, IDC_ABOUT_OK);
        EXPECT_TRUE(Closes(about)) << way;
    }
    EXPECT_TRUE(run.Exit());
}

/* Presses a Help button and returns the page the viewer shows, then
   closes the viewer.  Wine's WinHelp looks for the viewer's window right
   after starting it and may miss it: the page then stays empty, and a
   second press (as a user would give) reaches the viewer now there. */
std::string HelpPageFrom(HWND dialog, int button)
{
    std::string text;
    HWND viewer = NULL;
    for (int press = 0; press < 2 && text.empty(); press++) {
        ClickPosted(dialog, button);
        viewer = WaitForWindow("MS_WINHELP", NULL, 0, kWait);
        HWND page = viewer != NULL ? FindWindowExA(viewer, NULL, "RichEdit20A", NULL) : NULL;
        WaitUntil([&] {
            char buffer[4096] = "";
            SendMessageA(page, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer));
            text = buffer;
            return !text.empty();
        }, 4000);
    }
    if (viewer != NULL) {
        PostMessageA(viewer, WM_CLOSE, 0, 0);
        WaitUntil([&] { return !IsWindow(viewer); }, kWait);
    }
    return text;
}

/* Help opens the help file beside the program: its contents from the main
   dialog, the Advanced Options topic (context 12) from that dialog. */
TEST_F(Options, HelpOpensTheHelpFileAtItsTopic)
{
    SeedOpening();
    OptionsRun run;
    ASSERT_NE(run.main, (HWND)NULL);
    HWND advanced = run.OpenAdvanced();
    ASSERT_NE(advanced, (HWND)NULL);
    std::string topic = HelpPageFrom(advanced, IDC_ADV_HELP);
    EXPECT_EQ(topic.rfind("Chapter 3: Advanced Options", 0), 0u) << topic;
    Click(advanced, IDC_ADV_CANCEL);
    ASSERT_TRUE(Closes(advanced));

    std::string contents = HelpPageFrom(run.main, IDC_MAIN_HELP);
    EXPECT_EQ(contents.rfind("Horavex Help", 0), 0u) << contents;
    EXPECT_NE(contents.find("Chapter 3: Advanced Options"), std::string::npos) << "the list";
    EXPECT_TRUE(run.Exit());
}
