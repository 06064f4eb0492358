#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/stringlist.h"
#include "persist/settings.h"
#include "registry.h"

namespace {

/* A hosts key of the test's own, under the user's hive. */
const char kTestRoot[] = "Software\\HoravexTest";
const char kTestHosts[] = "Software\\HoravexTest\\hosts";

std::vector<std::string> Listed(HKEY key)
{
    StringList hosts = {0, NULL};
    LoadHostList(key, &hosts);
    std::vector<std::string> listed(hosts.items, hosts.items + hosts.itemCount);
    StringListClear(&hosts);
    return listed;
}

class HostList : public ::testing::Test {
protected:
    HKEY key = NULL;

    void SetUp() override { DeleteKeyTree(HKEY_CURRENT_USER, kTestRoot); }
    void TearDown() override
    {
        if (key != NULL)
            RegCloseKey(key);
        DeleteKeyTree(HKEY_CURRENT_USER, kTestRoot);
    }
    void Open() { ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kTestHosts, 0, KEY_READ, &key), 0); }
    void Put(const char *name, DWORD type, const std::string &data)
    {
        SetRegRaw(HKEY_CURRENT_USER, kTestHosts, name, type, data);
    }
};

} // namespace

/* Texts and the first text of a multi-string are hosts; numbers, binary
   data and texts too long are skipped, and the list goes on after them. */
TEST_F(HostList, TakesEveryKindOfTextAndSkipsWhatIsNone)
{
    Put("host0", REG_SZ, std::string("a.invalid", 10));
    Put("host1", REG_MULTI_SZ, std::string("b.invalid\0second.invalid\0", 26));
    Put("host2", REG_DWORD, std::string("\7\0\0\0", 4));
    Put("host3", REG_EXPAND_SZ, std::string("c.invalid", 10));
    Put("host4", REG_SZ, std::string(600, 'l') + '\0');
    Put("host5", REG_BINARY, "x.invalid");
    Put("host6", REG_SZ, std::string("d.invalid", 10));
    Open();
    EXPECT_EQ(Listed(key),
              (std::vector<std::string>{"a.invalid", "b.invalid", "c.invalid", "d.invalid"}));
}

/* A query that fails for good (the key deleted by another program after
   it was opened) ends the list instead of trying every number there is. */
TEST_F(HostList, EndsAtAQueryThatFails)
{
    Put("host0", REG_SZ, std::string("a.invalid", 10));
    Open();
    DeleteKeyTree(HKEY_CURRENT_USER, kTestRoot);
    char data[16];
    DWORD size = sizeof data;
    LONG query = RegQueryValueExA(key, "host0", NULL, NULL, (BYTE *)data, &size);
    EXPECT_EQ(query, ERROR_KEY_DELETED) << "every query of the open key fails alike";
    DWORD start = GetTickCount();
    EXPECT_EQ(Listed(key), std::vector<std::string>{});
    EXPECT_LT(GetTickCount() - start, 2000u);
}
