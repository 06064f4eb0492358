#include <gtest/gtest.h>

#include "base/globals.h"
#include "app/mainwnd.h"
#include "base/fetchtimer.h"
#include "expected.h"
#include "mainwindow.h"
#include "pump.h"
#include "timeclient/request.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand);

class SingleInstance : public MainWindowTest {
};

TEST_F(SingleInstance, ASecondStartEndsAtOnceAndStoresNothing)
{
    Create();
    DropFirstTick();
    char commandLine[] = "other.example";
    DWORD start = GetTickCount();
    EXPECT_EQ(WinMain(appInstance, NULL, commandLine, SW_SHOWNORMAL), 0);
    EXPECT_LT(GetTickCount() - start, 1000u);
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, SETTINGS_KEY, "host"), "127.0.0.1");
    EXPECT_NE(State(), nullptr) << "the running instance is not touched";
}

TEST_F(SingleInstance, APreviousInstanceHandleEndsTheStartToo)
{
    char commandLine[] = "other.example";
    EXPECT_EQ(WinMain(appInstance, appInstance, commandLine, SW_SHOWNORMAL), 0);
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, SETTINGS_KEY, "host"), "127.0.0.1");
}

class MainWindowLife : public MainWindowTest {
protected:
    void SetUp() override
    {
        MainWindowTest::SetUp();
        Create();
        DropFirstTick();
    }
};

TEST(FetchPeriod, IsTheMinutesInMillisecondsUpToTheTimerLimit)
{
    EXPECT_EQ(FetchPeriod(1), 60000u);
    EXPECT_EQ(FetchPeriod(15), 900000u);
    EXPECT_EQ(FetchPeriod(35791), 2147460000u);
    EXPECT_EQ(FetchPeriod(71583), (UINT)USER_TIMER_MAXIMUM) << "not wrapped to 12.7 s";
    EXPECT_EQ(FetchPeriod(0xFFFFFFFFu), (UINT)USER_TIMER_MAXIMUM);
}

class FetchTimer : public MainWindowTest {
};

TEST_F(FetchTimer, RunsWhenAPeriodIsStored)
{
    SetRegDword(HKEY_LOCAL_MACHINE, SETTINGS_KEY, "timeOut", 15);
    Create();
    DropFirstTick();
    EXPECT_EQ(State()->timeOut, 15u);
    EXPECT_TRUE(KillTimer(window_, 100)) << "timer 100 was running";
}

TEST_F(FetchTimer, WithoutAPeriodTheFirstTickStillComes)
{
    Create();
    EXPECT_FALSE(KillTimer(window_, 100));
    MSG tick;
    EXPECT_TRUE(PeekMessageA(&tick, window_, WM_TIMER, WM_TIMER, PM_REMOVE));
}

TEST_F(MainWindowLife, HoldsItsStateFromCreation)
{
    AppState *state = State();
    ASSERT_NE(state, nullptr);
    EXPECT_EQ(mainWindow, window_);
    ASSERT_NE(state->request, nullptr);
    EXPECT_EQ(ExchangeSocket(state->request), INVALID_SOCKET);
    EXPECT_EQ(state->port, 37u);
    EXPECT_FALSE(RequestRunning(state->request));
    EXPECT_FALSE(IsWindowVisible(window_));
}

TEST_F(MainWindowLife, NamesTheTimeZoneInEffect)
{
    ASSERT_NE(State()->tzName, nullptr);
    EXPECT_EQ(State()->tzName, ZoneNameInEffect());
}

TEST_F(MainWindowLife, AgreesThatWindowsMayEnd)
{
    EXPECT_EQ(SendMessageA(window_, WM_QUERYENDSESSION, 0, 0), 1);
}

TEST_F(MainWindowLife, ACancelledSessionEndKeepsEverything)
{
    SendMessageA(window_, WM_ENDSESSION, FALSE, 0);
    EXPECT_NE(State(), nullptr);
}

TEST_F(MainWindowLife, TheSessionEndReleasesTheStateAndLaterMessagesFindNone)
{
    SendMessageA(window_, WM_ENDSESSION, TRUE, 0);
    EXPECT_TRUE(IsWindow(window_));
    EXPECT_EQ(State(), nullptr);
    SendMessageA(window_, WM_TIMER, 100, 0);
    SendMessageA(window_, UM_SOCKET, 5, WSAMAKESELECTREPLY(FD_READ, 0));
    SendMessageA(window_, UM_OPENDIALOG, 1, 0);
    SendMessageA(window_, WM_ENDSESSION, TRUE, 0);
    EXPECT_TRUE(IsWindow(window_));
    MSG quit;
    EXPECT_TRUE(PeekMessageA(&quit, NULL, WM_QUIT, WM_QUIT, PM_REMOVE)) << "the program ends";
}

TEST_F(MainWindowLife, SwallowsSystemCommandsButClose)
{
    SendMessageA(window_, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_TRUE(IsWindow(window_));
    SendMessageA(window_, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_FALSE(IsWindow(window_));
}

TEST_F(MainWindowLife, ClosingReleasesTheStateAndEndsTheLoop)
{
    SendMessageA(window_, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(window_));
    MSG quit;
    EXPECT_TRUE(PeekMessageA(&quit, NULL, WM_QUIT, WM_QUIT, PM_REMOVE));
}
