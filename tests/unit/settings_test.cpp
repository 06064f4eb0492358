#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/stringlist.h"
#include "persist/resultlog.h"
#include "persist/settings.h"
#include "registry.h"

namespace {

std::vector<std::string> HostsUnder(HKEY root)
{
    std::vector<std::string> hosts;
    for (const RegValue &value : ReadRegValues(root, HOSTS_KEY))
        hosts.push_back(value.name + "=" + value.data.c_str());
    std::sort(hosts.begin(), hosts.end());
    return hosts;
}

void SeedHostsUnder(HKEY root, const std::vector<std::string> &hosts)
{
    for (size_t i = 0; i < hosts.size(); i++)
        SetRegString(root, HOSTS_KEY, ("host" + std::to_string(i)).c_str(), hosts[i]);
}

/* The program's keys, under both roots, put back as they were found. */
class SettingsStore : public ::testing::Test {
protected:
    RegistrySnapshot machine{HKEY_LOCAL_MACHINE, VENDOR_KEY};
    RegistrySnapshot user{HKEY_CURRENT_USER, VENDOR_KEY};
    AppState state;

    void SetUp() override
    {
        DeleteKeyTree(HKEY_LOCAL_MACHINE, VENDOR_KEY);
        DeleteKeyTree(HKEY_CURRENT_USER, VENDOR_KEY);
        memset(&state, 0, sizeof state);
    }

    void TearDown() override { Forget(); }

    void Forget()
    {
        free(state.host);
        free(state.logPath);
        free(state.ntsTrust);
        StringListClear(&state.hosts);
        memset(&state, 0, sizeof state);
    }

    BOOL Load()
    {
        Forget();
        return LoadSettings(&state);
    }

    void Keep(const std::vector<std::string> &hosts)
    {
        StringListClear(&state.hosts);
        for (const std::string &host : hosts)
            StringListAdd(&state.hosts, host.c_str());
    }
};

} // namespace

/* A standard user's first start after an install: no machine's key, and
   none can be made.  The defaults hold, the warning comes, and what the
   end stores is those defaults, not zeros. */
TEST_F(SettingsStore, WithoutTheMachinesKeyTheDefaultsHoldAndTheHostIsMissing)
{
    DanglingKeyLink blocked(VENDOR_KEY);
    ASSERT_TRUE(blocked.Made());
    EXPECT_TRUE(Load());
    EXPECT_EQ(state.attempts, 3u);
    EXPECT_EQ(state.autoStart, 1);
    EXPECT_EQ(state.maxAdjust, 120u);
    EXPECT_STREQ(state.host, "");
    EXPECT_TRUE(SaveSettings(&state));
    EXPECT_EQ(ReadRegDword(HKEY_CURRENT_USER, SETTINGS_KEY, "maxAdjust"), 120);

    SetRegString(HKEY_CURRENT_USER, SETTINGS_KEY, "host", "u.invalid");
    EXPECT_FALSE(Load()) << "the user's copy names a host";
    EXPECT_STREQ(state.host, "u.invalid");
}

/* Each stored form as it reads; a number is no text, and a text that
   names environment variables is kept as written, with its type. */
TEST_F(SettingsStore, EveryValueTypeReadsAsWhatItMeans)
{
    struct Row {
        const char *name;
        DWORD type;
        std::string data;
        std::function<std::string(const AppState &)> field;
        std::string expected;
    } rows[] = {
        {"maxAdjust", REG_MULTI_SZ, std::string("60\0\0", 4),
         [](const AppState &s) { return std::to_string(s.maxAdjust); }, "60"},
        {"maxAdjust", REG_DWORD_BIG_ENDIAN, std::string("\0\0\0\x3c", 4),
         [](const AppState &s) { return std::to_string(s.maxAdjust); }, "60"},
        {"attempts", REG_DWORD_BIG_ENDIAN, std::string("\x01\x02", 2),
         [](const AppState &s) { return std::to_string(s.attempts); }, "258"},
        {"host", REG_DWORD, std::string("\x01\0\0\0", 4),
         [](const AppState &s) { return std::string(s.host); }, ""},
        {"host", REG_BINARY, "a.invalid", [](const AppState &s) { return std::string(s.host); },
         ""},
        {"logPath", REG_BINARY, "c:\\h.log",
         [](const AppState &s) { return std::string(s.logPath); }, ""},
        {"logPath", REG_EXPAND_SZ, std::string("%TEMP%\\h.log", 13),
         [](const AppState &s) { return s.logPath + std::to_string(s.logPathExpands); },
         "%TEMP%\\h.log1"},
    };
    for (const Row &row : rows) {
        DeleteKeyTree(HKEY_LOCAL_MACHINE, SETTINGS_KEY);
        SetRegRaw(HKEY_LOCAL_MACHINE, SETTINGS_KEY, row.name, row.type, row.data);
        Load();
        EXPECT_EQ(row.field(state), row.expected) << row.name << " of type " << row.type;
    }
    ASSERT_TRUE(SaveSettings(&state));
    RegValue stored;
    ASSERT_TRUE(ReadRegValue(HKEY_LOCAL_MACHINE, SETTINGS_KEY, "logPath", &stored));
    EXPECT_EQ(stored.type, (DWORD)REG_EXPAND_SZ);
    EXPECT_EQ(stored.data, std::string("%TEMP%\\h.log", 13));
    char path[1024];
    ASSERT_TRUE(LogFilePath(&state, path, sizeof path));
    EXPECT_EQ(strchr(path, '%'), nullptr) << path;
}

/* A trust anchor for NTS comes from the machine's key alone: a user's
   copy cannot add one, and no save writes it anywhere. */
TEST_F(SettingsStore, OnlyTheMachineNamesAnNtsTrustFile)
{
    SetRegString(HKEY_CURRENT_USER, SETTINGS_KEY, "ntsTrust", "C:\\mine.pem");
    SetRegDword(HKEY_CURRENT_USER, SETTINGS_KEY, "protocol", 2);
    Load();
    EXPECT_EQ(state.ntsTrust, nullptr);
    EXPECT_EQ(state.protocol, 2) << "the protocol is the user's to choose";
    SetRegRaw(HKEY_LOCAL_MACHINE, SETTINGS_KEY, "ntsTrust", REG_MULTI_SZ,
              std::string("C:\\a.pem\0\0", 11));
    Load();
    EXPECT_EQ(state.ntsTrust, nullptr) << "a list is no file name";
    SetRegString(HKEY_LOCAL_MACHINE, SETTINGS_KEY, "ntsTrust", "C:\\ca.pem");
    Load();
    ASSERT_NE(state.ntsTrust, nullptr);
    EXPECT_STREQ(state.ntsTrust, "C:\\ca.pem");
    DeleteKeyTree(HKEY_CURRENT_USER, VENDOR_KEY);
    ASSERT_TRUE(SaveSettings(&state));
    RegValue stored;
    EXPECT_FALSE(ReadRegValue(HKEY_CURRENT_USER, SETTINGS_KEY, "ntsTrust", &stored));
    EXPECT_EQ(ReadRegDword(HKEY_LOCAL_MACHINE, SETTINGS_KEY, "protocol"), 2);
}

/* A save that fails part-way deletes nothing of the machine's list, and
   the whole set goes to the user's copy. */
TEST_F(SettingsStore, AFailedSaveLeavesTheMachinesListAsItWas)
{
    const std::vector<std::string> old = {"host0=old0.invalid", "host1=old1.invalid"};
    struct Row {
        const char *key;
        DWORD denied;
    } rows[] = {
        {SETTINGS_KEY, DELETE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY},
        {HOSTS_KEY, KEY_SET_VALUE},
    };
    for (const Row &row : rows) {
        DeleteKeyTree(HKEY_LOCAL_MACHINE, VENDOR_KEY);
        DeleteKeyTree(HKEY_CURRENT_USER, VENDOR_KEY);
        SeedHostsUnder(HKEY_LOCAL_MACHINE, {"old0.invalid", "old1.invalid"});
        Keep({"new.invalid"});
        {
            UnwritableKey refusing(HKEY_LOCAL_MACHINE, row.key, row.denied);
            ASSERT_TRUE(refusing.Made());
            EXPECT_TRUE(SaveSettings(&state)) << row.key;
        }
        EXPECT_EQ(HostsUnder(HKEY_LOCAL_MACHINE), old) << row.key;
        EXPECT_EQ(HostsUnder(HKEY_CURRENT_USER), std::vector<std::string>{"host0=new.invalid"});
    }
}

/* The new entries go over the old ones and what lies past them goes: the
   list is written back exactly. */
TEST_F(SettingsStore, TheListIsReplacedInPlace)
{
    SeedHostsUnder(HKEY_LOCAL_MACHINE, {"a.invalid", "b.invalid", "c.invalid"});
    SetRegString(HKEY_LOCAL_MACHINE, HOSTS_KEY, "note", "left by someone");
    SetRegString(HKEY_LOCAL_MACHINE, HOSTS_KEY, "host07", "not ours");
    Keep({"x.invalid", "y.invalid"});
    ASSERT_TRUE(SaveSettings(&state));
    EXPECT_EQ(HostsUnder(HKEY_LOCAL_MACHINE),
              (std::vector<std::string>{"host0=x.invalid", "host1=y.invalid"}));
}

/* A user's copy that cannot be removed holds the newest set: the user's
   changes do not revert at the next start. */
TEST_F(SettingsStore, AUsersCopyThatCannotGoHoldsTheNewestSet)
{
    SetRegDword(HKEY_CURRENT_USER, SETTINGS_KEY, "reportOnly", 1);
    SetRegString(HKEY_CURRENT_USER, SETTINGS_KEY "\\kept", "x", "a subkey keeps it");
    Load();
    ASSERT_EQ(state.reportOnly, 1);
    state.reportOnly = 0;
    ASSERT_TRUE(SaveSettings(&state));
    EXPECT_EQ(ReadRegDword(HKEY_LOCAL_MACHINE, SETTINGS_KEY, "reportOnly"), 0);
    Load();
    EXPECT_EQ(state.reportOnly, 0);
}
