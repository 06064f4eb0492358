#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "base/textfmt.h"

TEST(FormatText, WritesWhatFits)
{
    char buffer[32];
    EXPECT_EQ(FormatText(buffer, sizeof buffer, "%s: %d", "code", 10061), 11);
    EXPECT_STREQ(buffer, "code: 10061");
}

TEST(FormatText, CutsALongerTextToTheBuffer)
{
    char area[16];
    memset(area, 'Z', sizeof area);
    EXPECT_EQ(FormatText(area, 8, "%s", "0123456789"), 7);
    EXPECT_STREQ(area, "0123456");
    EXPECT_EQ(std::string(area + 8, 8), "ZZZZZZZZ");
}

TEST(FormatText, CutsAtTheSizeOfTheSharedTextBuffer)
{
    char buffer[512];
    std::string host(600, 'h');
    EXPECT_EQ(FormatText(buffer, sizeof buffer, "horavex: %s: unknown host", host.c_str()), 511);
    EXPECT_EQ(std::string(buffer), "horavex: " + host.substr(0, 502));
}
