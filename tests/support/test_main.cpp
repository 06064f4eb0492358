#include <windows.h>
#include <winsock2.h>

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return 2;
    int result = RUN_ALL_TESTS();
    WSACleanup();
    return result;
}
