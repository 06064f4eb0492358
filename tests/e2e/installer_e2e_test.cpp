#include <windows.h>
#include <shlobj.h>

#include <string>

#include "dialog.h"
#include "e2e.h"
#include "pump.h"
#include "resource.h"
#include "shelllink.h"
#include "windowhelpers.h"

namespace {

const char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Horavex";
const DWORD kWait = 30000;

std::string KnownFolder(int csidl)
{
    char path[MAX_PATH] = "";
    SHGetFolderPathA(NULL, csidl, NULL, SHGFP_TYPE_CURRENT, path);
    return path;
}

bool Exists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

} // namespace

class Installer : public EndToEnd {
protected:
    void SetUp() override
    {
        EndToEnd::SetUp();
        uninstall_ = std::make_unique<RegistrySnapshot>(HKEY_LOCAL_MACHINE, kUninstallKey);
    }
    void TearDown() override
    {
        uninstall_.reset();
        EndToEnd::TearDown();
    }

private:
    std::unique_ptr<RegistrySnapshot> uninstall_;
};

/* Installed silently, the program runs from Program Files; uninstalled
   silently, everything it added is gone but the settings. */
TEST_F(Installer, InstallsRunsAndUninstallsSilently)
{
    ASSERT_TRUE(Exists(SetupPath())) << SetupPath();
    SeedText("host", "a.invalid");
    SeedNumber("autoStart", 0);
    ASSERT_EQ(RunAndWait(SetupPath(), "/S"), 0u);

    std::string folder = ReadRegString(HKEY_LOCAL_MACHINE, kUninstallKey, "InstallLocation");
    EXPECT_EQ(folder, KnownFolder(CSIDL_PROGRAM_FILES) + "\\Horavex");
    std::string program = folder + "\\horavex.exe";
    EXPECT_TRUE(Exists(program));
    EXPECT_TRUE(Exists(folder + "\\horavex.hlp"));
    EXPECT_TRUE(Exists(folder + "\\mbedtls-license.txt")) << "the licence of what it links";
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayVersion"), "3.1.4.1");
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, kUninstallKey, "Publisher"), "Quillmoor");
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayIcon"), program + ",0");
    std::string menuLink = KnownFolder(CSIDL_COMMON_PROGRAMS) + "\\Horavex.lnk";
    std::string target, description;
    ASSERT_TRUE(ReadLink(menuLink, &target, &description)) << menuLink;
    EXPECT_EQ(lstrcmpiA(target.c_str(), program.c_str()), 0) << target;

    {
        HoravexProcess installed("", program);
        HWND dialog = WaitForDialogWith(installed.Id(), IDC_MAIN_STARTUP, kWait);
        ASSERT_NE(dialog, (HWND)NULL);
        Click(dialog, IDC_MAIN_STARTUP); /* "Add to startup", for the uninstaller to remove */
        std::string startupLink = KnownFolder(CSIDL_STARTUP) + "\\Horavex.lnk";
        EXPECT_TRUE(WaitUntil([&] { return Exists(startupLink); }, kWait));
        ClickPosted(dialog, IDC_MAIN_EXIT);
        ASSERT_TRUE(installed.WaitForExit(kWait));
        EXPECT_EQ(installed.ExitCode(), 0u);
    }

    ASSERT_EQ(RunAndWait(folder + "\\uninstall.exe", "/S"), 0u);
    /* The uninstaller goes on from a copy of itself. */
    EXPECT_TRUE(WaitUntil([&] { return !KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey); }, kWait));
    EXPECT_TRUE(WaitUntil([&] { return !Exists(folder); }, kWait)) << "files and folder";
    EXPECT_FALSE(Exists(menuLink));
    EXPECT_FALSE(Exists(KnownFolder(CSIDL_STARTUP) + "\\Horavex.lnk"));
    EXPECT_EQ(Text("host"), "a.invalid") << "the settings stay";
}

/* The uninstalling user's own copy too: it would win over a reinstall. */
TEST_F(Installer, PurgeAlsoRemovesTheSettings)
{
    SeedText("host", "a.invalid");
    SetRegString(HKEY_CURRENT_USER, SETTINGS_KEY, "host", "b.invalid");
    ASSERT_EQ(RunAndWait(SetupPath(), "/S"), 0u);
    std::string folder = ReadRegString(HKEY_LOCAL_MACHINE, kUninstallKey, "InstallLocation");
    ASSERT_EQ(RunAndWait(folder + "\\uninstall.exe", "/S /PURGE"), 0u);
    EXPECT_TRUE(WaitUntil([&] { return !KeyExists(HKEY_LOCAL_MACHINE, SETTINGS_KEY); }, kWait));
    EXPECT_TRUE(WaitUntil([&] { return !KeyExists(HKEY_CURRENT_USER, SETTINGS_KEY); }, kWait));
    EXPECT_TRUE(WaitUntil([&] { return !Exists(folder); }, kWait));
}
