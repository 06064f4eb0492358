#include <gtest/gtest.h>

#include <string.h>
#include <time.h>

#include <string>

#include "resource.h"
#include "ui/tray.h"

/* The eight entries in order, plain and enabled. */
TEST(TrayMenu, HoldsItsEntriesInOrder)
{
    struct Entry {
        UINT id;
        const char *text; /* null: a separator */
    } entries[] = {
        {IDM_GETTIME, "&Get time ..."}, {0, NULL}, {IDM_ABOUT, "&About"}, {IDM_HELP, "&Help"},
        {0, NULL}, {IDM_EXIT, "E&xit"}, {0, NULL}, {IDM_PROPERTIES, "&Properties"},
    };
    BuildTrayMenu();
    ASSERT_NE(trayMenu, (HMENU)NULL);
    ASSERT_EQ(GetMenuItemCount(trayMenu), 8);
    for (int i = 0; i < 8; i++) {
        UINT state = GetMenuState(trayMenu, (UINT)i, MF_BYPOSITION);
        if (entries[i].text == NULL) {
            EXPECT_TRUE(state & MF_SEPARATOR) << i;
            continue;
        }
        char text[64];
        GetMenuStringA(trayMenu, (UINT)i, text, sizeof text, MF_BYPOSITION);
        EXPECT_STREQ(text, entries[i].text);
        EXPECT_EQ(GetMenuItemID(trayMenu, i), entries[i].id);
        EXPECT_EQ(state & (MF_CHECKED | MF_GRAYED | MF_DISABLED | MF_DEFAULT), 0u) << i;
    }
    DestroyMenu(trayMenu);
    trayMenu = NULL;
}

TEST(TrayTip, IsTheLocalDateAndTimeWithoutTheLineFeed)
{
    time_t t = 978307200; /* 2001-01-01 00:00:00 UTC */
    char tip[64];
    ASSERT_TRUE(FormatTrayTime(t, tip, sizeof tip));
    std::string expected(ctime(&t), TRAY_TIME_LENGTH);
    EXPECT_EQ(tip, expected);
    EXPECT_EQ(strlen(tip), 24u);

    /* A time the C library cannot show leaves the tip as it was. */
    strcpy(tip, "kept");
    EXPECT_FALSE(FormatTrayTime((time_t)-1, tip, sizeof tip));
    EXPECT_STREQ(tip, "kept");
}
