#include <gtest/gtest.h>

#include <malloc.h>
#include <string.h>

#include <string>

#include "addressspace.h"
#include "base/stringlist.h"

namespace {

std::string Items(const StringList &list)
{
    std::string joined;
    for (int i = 0; i < list.itemCount; i++)
        joined += std::string(i ? "," : "") + list.items[i];
    return joined;
}

/* A text too long for the heap once the address space is nearly taken. */
std::string LongText()
{
    return std::string(64u << 20, 'h');
}

} // namespace

TEST(StringList, GrowsOneSlotPerAddAndKeepsTheOrder)
{
    StringList list = {0, NULL};
    const char *first = StringListAdd(&list, "first");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(list.itemCount, 1);
    EXPECT_EQ(list.items[0], first);
    EXPECT_EQ(_msize(list.items), sizeof(char *));
    StringListAdd(&list, "second");
    StringListAdd(&list, "third");
    EXPECT_EQ(list.itemCount, 3);
    EXPECT_EQ(_msize(list.items), 3 * sizeof(char *));
    EXPECT_EQ(Items(list), "first,second,third");
    StringListClear(&list);
}

TEST(StringList, HoldsCopiesOfItsOwn)
{
    StringList list = {0, NULL};
    char text[] = "time.example";
    const char *copy = StringListAdd(&list, text);
    text[0] = 'X';
    EXPECT_NE(copy, text);
    EXPECT_STREQ(list.items[0], "time.example");
    StringListClear(&list);
}

TEST(StringList, ClearEmptiesAnyList)
{
    StringList empty = {0, NULL};
    StringListClear(&empty);
    EXPECT_EQ(empty.itemCount, 0);
    EXPECT_EQ(empty.items, nullptr);

    StringList full = {0, NULL};
    StringListAdd(&full, "a");
    StringListAdd(&full, "b");
    StringListClear(&full);
    EXPECT_EQ(full.itemCount, 0);
    EXPECT_EQ(full.items, nullptr);
    StringListAdd(&full, "again");
    EXPECT_EQ(Items(full), "again");
    StringListClear(&full);
}

TEST(StringList, AddWithoutMemoryLeavesTheListAsItWas)
{
    if (!AddressSpaceHog::CanExhaust())
        GTEST_SKIP() << "a 64-bit address space cannot be used up";
    StringList list = {0, NULL};
    StringListAdd(&list, "kept");
    char **items = list.items;
    std::string text = LongText();
    char *added;
    {
        AddressSpaceHog hog(1u << 20);
        added = StringListAdd(&list, text.c_str());
    }
    EXPECT_EQ(added, nullptr);
    EXPECT_EQ(list.itemCount, 1);
    EXPECT_EQ(list.items, items);
    EXPECT_EQ(Items(list), "kept");
    StringListClear(&list);
}

TEST(ReplaceString, CopiesIntoAnEmptyPlace)
{
    char *text = ReplaceString(NULL, "new");
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "new");
    free(text);
}

TEST(ReplaceString, GivesAFreshCopyForTheOldOne)
{
    char *old = strdup("old");
    const char source[] = "new";
    char *text = ReplaceString(old, source);
    EXPECT_STREQ(text, "new");
    EXPECT_NE(text, source);
    free(text);
}

TEST(ReplaceString, WithoutMemoryKeepsTheCurrentText)
{
    if (!AddressSpaceHog::CanExhaust())
        GTEST_SKIP() << "a 64-bit address space cannot be used up";
    char *current = strdup("current");
    std::string text = LongText();
    char *result;
    {
        AddressSpaceHog hog(1u << 20);
        result = ReplaceString(current, text.c_str());
    }
    EXPECT_EQ(result, current);
    EXPECT_STREQ(result, "current");
    free(result);
}
