#include <gtest/gtest.h>

#include <string.h>

#include <memory>
#include <string>

#include "persist/startuplink.h"
#include "registry.h"

namespace {

const char kShellFolders[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

class StartupLink : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved_ = std::make_unique<RegistrySnapshot>(HKEY_CURRENT_USER, kShellFolders);
    }
    void TearDown() override { saved_.reset(); }

private:
    std::unique_ptr<RegistrySnapshot> saved_;
};

} // namespace

/* A path that would not fit with the link's name is no path at all, never
   a cut one that names another file. */
TEST_F(StartupLink, ThePathIsTheFolderWithTheLinkNameOrNone)
{
    struct Case {
        std::string folder; /* empty: no value */
        bool found;
    } cases[] = {
        {"C:\\Start\\Up", true},
        {"", false},
        {"C:\\" + std::string(MAX_PATH - 3 - 13, 'f'), true},
        {"C:\\" + std::string(MAX_PATH - 3 - 12, 'f'), false},
        {"C:\\" + std::string(MAX_PATH - 3, 'f'), false},
    };
    for (const Case &row : cases) {
        RegDeleteKeyValueA(HKEY_CURRENT_USER, kShellFolders, "Startup");
        if (!row.folder.empty())
            SetRegString(HKEY_CURRENT_USER, kShellFolders, "Startup", row.folder);
        char path[STARTUP_LINK_PATH_SIZE];
        memset(path, 'x', sizeof path);
        EXPECT_EQ(GetStartupLinkPath(path), row.found) << row.folder.size();
        EXPECT_EQ(path, row.found ? row.folder + "\\Horavex.lnk" : "") << row.folder.size();
    }
}

TEST(Shortcut, IsSavedWhereAskedAndNotWhereItCannotBe)
{
    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    std::string link = std::string(folder) + "horavex-test.lnk";
    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, sizeof self);
    EXPECT_TRUE(CreateShortcut(link.c_str(), self, "Horavex"));
    EXPECT_TRUE(FileExists(link.c_str()));
    DeleteFileA(link.c_str());
    EXPECT_FALSE(FileExists(link.c_str()));
    EXPECT_FALSE(CreateShortcut("", self, "Horavex"));
    EXPECT_FALSE(CreateShortcut((std::string(folder) + "no-such-folder\\x.lnk").c_str(), self,
                                "Horavex"));
}
