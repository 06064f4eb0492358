#include <gtest/gtest.h>

#include <string>

#include "base/globals.h"
#include "statewindow.h"
#include "timeclient/request.h"
#include "timeclient/sockerr.h"
#include "ui/winsockbox.h"
#include "windowhelpers.h"

TEST(SocketErrorText, NamesEveryCodeOfTheTable)
{
    const struct { int code; const char *text; } table[] = {
        {10004, "The blocking call was cancelled"},
        {10014, "The namelen argument is incorrect"},
        {10022, "The socket is not already bound to an address"},
        {10024, "No more file descriptors are available"},
        {10035, "The socket is marked as non-blocking - operation would block"},
        {10036, "Blocking operation is in progress"},
        {10038, "The descriptor is not a socket"},
        {10039, "A destination address is required"},
        {10041, "The specified protocol is the wrong type for this socket"},
        {10043, "The specified protocol is not supported"},
        {10044, "The specified socket type is not supported in this address family"},
        {10047, "Specified address family not supported"},
        {10048, "The specified address is already in use"},
        {10049, "The specified address is not available to local machine"},
        {10050, "Network subsystem has failed"},
        {10051, "The network cannot be reached from this host at this time"},
        {10054, "The virtual circuit was reset by the remote side"},
        {10055, "No buffer space is available.  The socket cannot be created"},
        {10056, "The socket is already connected"},
        {10060, "Attempt to connect timed out"},
        {10061, "The attempt to connect was refused"},
        {10093, "A successful WSAStartup() was not called"},
    };
    for (const auto &row : table)
        EXPECT_STREQ(SocketErrorText(row.code), row.text) << row.code;
}

TEST(SocketErrorText, EveryOtherCodeIsUnknown)
{
    for (int code : {0, -1, 1, 10003, 10005, 10053, 10057, 10092, 10094, 11001, 11004})
        EXPECT_STREQ(SocketErrorText(code), "unknown error") << code;
}

class SocketMessage : public ::testing::Test {
protected:
    StateWindow owner;
    BoxAnswerer boxes{"Winsock Error", IDOK};
};

TEST_F(SocketMessage, ShowsTheCallersTextAboveTheCodeAndItsText)
{
    WSASetLastError(10061);
    int length = ReportSocketError("WSAAsyncSelect Error!");
    ASSERT_EQ(boxes.Count(), 1);
    const std::string expected = "\r\nWSAAsyncSelect Error!\r\n10061: The attempt to connect was refused";
    EXPECT_EQ(boxes.Text(), expected);
    EXPECT_EQ(length, (int)expected.size());
    EXPECT_EQ(boxes.Owner(), owner.window) << "owned by the main window";
}

TEST_F(SocketMessage, CodesOutsideTheTableAreUnknown)
{
    WSASetLastError(10053);
    ReportSocketError("horavex: could not get socket");
    WSASetLastError(0);
    ReportSocketError("horavex: could not get socket");
    ASSERT_EQ(boxes.Count(), 2);
    EXPECT_EQ(boxes.Texts()[0], "\r\nhoravex: could not get socket\r\n10053: unknown error");
    EXPECT_EQ(boxes.Texts()[1], "\r\nhoravex: could not get socket\r\n0: unknown error");
}

TEST_F(SocketMessage, AMessageIsCutToItsBuffer)
{
    std::string text(2000, 'x');
    EXPECT_EQ(ShowSocketMessage("%s", text.c_str()), 1023);
    ASSERT_EQ(boxes.Count(), 1);
    EXPECT_EQ(boxes.Text(), text.substr(0, 1023));
}

TEST_F(SocketMessage, AnUnknownHostNamesTheHostAndTheLookupsCode)
{
    SOCKADDR_STORAGE address;
    char step[TEXT_BUFFER_SIZE];
    EXPECT_EQ(OpenTimeSocket("no-such-host.invalid", 37, "time", &address, step, sizeof step),
              INVALID_SOCKET);
    ReportSocketError(step);
    ASSERT_EQ(boxes.Count(), 1);
    const std::string head = "\r\nhoravex: no-such-host.invalid: unknown host\r\n";
    ASSERT_EQ(boxes.Text().compare(0, head.size(), head), 0) << boxes.Text();
    int code = atoi(boxes.Text().c_str() + head.size());
    EXPECT_GE(code, 11001);
    EXPECT_LE(code, 11004);
    EXPECT_EQ(boxes.Text(), head + std::to_string(code) + ": unknown error");
}

TEST_F(SocketMessage, AServiceThatDoesNotExistIsReported)
{
    SOCKADDR_STORAGE address;
    char step[TEXT_BUFFER_SIZE];
    EXPECT_EQ(OpenTimeSocket("127.0.0.1", 0, "no-such-service-of-horavex", &address, step,
                             sizeof step),
              INVALID_SOCKET);
    ReportSocketError(step);
    ASSERT_EQ(boxes.Count(), 1);
    const std::string head = "\r\nhoravex: getservbyname failed\r\n";
    EXPECT_EQ(boxes.Text().compare(0, head.size(), head), 0) << boxes.Text();
}
