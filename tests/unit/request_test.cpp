#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "base/globals.h"
#include "base/stringlist.h"
#include "pump.h"
#include "statewindow.h"
#include "timeclient/request.h"
#include "timeserver.h"
#include "windowhelpers.h"

namespace {

/* The state window with the main dialog's two buttons on it. */
class RequestTest : public ::testing::Test {
protected:
    StateWindow owner;
    HWND getTime = NULL;
    HWND close = NULL;

    void SetUp() override
    {
        getTime = CreateWindowExA(0, "BUTTON", "&Get time", WS_CHILD, 0, 0, 10, 10,
                                  owner.window, (HMENU)(INT_PTR)IDOK, NULL, NULL);
        close = CreateWindowExA(0, "BUTTON", "&Close", WS_CHILD, 0, 20, 10, 10, owner.window,
                                (HMENU)(INT_PTR)IDCANCEL, NULL, NULL);
    }

    void UseHost(const std::string &host)
    {
        owner.state.host = ReplaceString(owner.state.host, host.c_str());
    }
};

} // namespace

TEST_F(RequestTest, StartingTurnsTheButtonsIntoStopAndConnects)
{
    TestTimeServer server(TimeReply::NeverAnswer());
    UseHost(server.Address());
    DWORD before = GetTickCount();
    EXPECT_EQ(StartRequest(owner.window, &owner.state), 1);
    EXPECT_NE(owner.state.sock, INVALID_SOCKET);
    EXPECT_EQ(owner.state.busy, 1);
    EXPECT_NE(owner.state.busyCursor, (HCURSOR)NULL);
    EXPECT_GE(owner.state.startTick, before);
    EXPECT_EQ(WindowText(getTime), "Stop!");
    EXPECT_FALSE(IsWindowEnabled(close));
    EXPECT_TRUE(server.WaitForConnections(1, 5000));
    EXPECT_EQ(serverAddress.sin_family, AF_INET);
    EXPECT_EQ(serverAddress.sin_port, htons(37));
    EXPECT_EQ(serverAddress.sin_addr.s_addr, inet_addr(server.Address().c_str()));
}

TEST_F(RequestTest, ResetRestoresTheButtonsAndReleasesTheCursor)
{
    TestTimeServer server(TimeReply::NeverAnswer());
    UseHost(server.Address());
    StartRequest(owner.window, &owner.state);
    closesocket(owner.state.sock);
    ResetRequestControls(owner.window, &owner.state);
    EXPECT_EQ(owner.state.sock, INVALID_SOCKET);
    EXPECT_EQ(owner.state.busy, 0);
    EXPECT_EQ(owner.state.busyCursor, (HCURSOR)NULL);
    EXPECT_EQ(WindowText(getTime), "&Get time");
    EXPECT_TRUE(IsWindowEnabled(close));
}

TEST_F(RequestTest, AHostThatDoesNotResolveIsReportedAndNothingStarts)
{
    UseHost("no-such-host.invalid");
    BoxAnswerer errors("Winsock Error", IDOK);
    EXPECT_EQ(StartRequest(owner.window, &owner.state), 0);
    EXPECT_EQ(errors.Count(), 1);
    EXPECT_NE(errors.Text().find("horavex: no-such-host.invalid: unknown host"), std::string::npos)
        << errors.Text();
    EXPECT_EQ(owner.state.sock, INVALID_SOCKET);
    EXPECT_EQ(owner.state.busy, 0);
    EXPECT_EQ(WindowText(getTime), "&Get time");
    EXPECT_TRUE(IsWindowEnabled(close));
}

TEST_F(RequestTest, AVeryLongHostIsCutInTheReport)
{
    UseHost(std::string(600, 'h'));
    BoxAnswerer errors("Winsock Error", IDOK);
    EXPECT_EQ(StartRequest(owner.window, &owner.state), 0);
    ASSERT_EQ(errors.Count(), 1);
    EXPECT_NE(errors.Text().find("horavex: " + std::string(502, 'h')), std::string::npos);
    EXPECT_EQ(errors.Text().find(": unknown host"), std::string::npos);
}

TEST_F(RequestTest, AStartClosesTheSocketOfAnOlderRequest)
{
    TestTimeServer server(TimeReply::NeverAnswer());
    UseHost(server.Address());
    StartRequest(owner.window, &owner.state);
    ASSERT_TRUE(server.WaitForConnections(1, 5000));
    StartRequest(owner.window, &owner.state);
    EXPECT_TRUE(server.WaitForClosedByClient(1, 5000));
    EXPECT_TRUE(server.WaitForConnections(2, 5000));
}

TEST_F(RequestTest, EndingClosesTheSocketOnce)
{
    TestTimeServer server(TimeReply::NeverAnswer());
    UseHost(server.Address());
    StartRequest(owner.window, &owner.state);
    ASSERT_TRUE(server.WaitForConnections(1, 5000));
    EndRequest(&owner.state);
    EXPECT_EQ(owner.state.sock, INVALID_SOCKET);
    EXPECT_EQ(owner.state.busy, 0);
    EXPECT_TRUE(server.WaitForClosedByClient(1, 5000));
    EndRequest(&owner.state);
    EXPECT_EQ(owner.state.sock, INVALID_SOCKET);
}

TEST_F(RequestTest, ACalibrationReadingStartsTheNextConnection)
{
    TestTimeServer server(TimeReply::NeverAnswer());
    UseHost(server.Address());
    StartRequest(owner.window, &owner.state);
    ASSERT_TRUE(server.WaitForConnections(1, 5000));
    owner.state.calibrationsLeft = 2;
    ContinueCalibration(owner.window, &owner.state, owner.state.sock);
    EXPECT_EQ(owner.state.calibrationsLeft, 1u);
    EXPECT_TRUE(server.WaitForClosedByClient(1, 5000));
    EXPECT_TRUE(server.WaitForConnections(2, 5000));
    EXPECT_EQ(owner.state.busy, 1);
}

TEST_F(RequestTest, ACalibrationReadingWithoutARunningRequestIsDroppedAndClosed)
{
    TestTimeServer server(TimeReply::NeverAnswer());
    UseHost(server.Address());
    StartRequest(owner.window, &owner.state);
    ASSERT_TRUE(server.WaitForConnections(1, 5000));
    owner.state.busy = 0;
    owner.state.calibrationsLeft = 2;
    ContinueCalibration(owner.window, &owner.state, owner.state.sock);
    EXPECT_EQ(owner.state.calibrationsLeft, 0u);
    EXPECT_EQ(owner.state.sock, INVALID_SOCKET);
    EXPECT_TRUE(server.WaitForClosedByClient(1, 5000));
    PumpUntil([] { return false; }, 200);
    EXPECT_EQ(server.Connections(), 1);
}

TEST_F(RequestTest, ANotificationWithNothingToReadIsNoRead)
{
    WSASetLastError(WSAEWOULDBLOCK);
    EXPECT_TRUE(NothingToRead(SOCKET_ERROR));
    WSASetLastError(WSAECONNRESET);
    EXPECT_FALSE(NothingToRead(SOCKET_ERROR));
    WSASetLastError(WSAEWOULDBLOCK);
    EXPECT_FALSE(NothingToRead(0));
    EXPECT_FALSE(NothingToRead(4));
}
