#include <windows.h>
#include <winsock.h>

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    WSADATA data;
    if (WSAStartup(MAKEWORD(1, 1), &data) != 0)
        return 2;
    int result = RUN_ALL_TESTS();
    WSACleanup();
    return result;
}
