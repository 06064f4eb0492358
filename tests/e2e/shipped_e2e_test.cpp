#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "process.h"

/* The manifest travels inside the program as resource 24/1. */
TEST(ShippedProgram, CarriesItsManifest)
{
    HMODULE program = LoadLibraryExA(HoravexPath().c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(program, (HMODULE)NULL);
    HRSRC found = FindResourceA(program, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    ASSERT_NE(found, (HRSRC)NULL);
    const char *data = static_cast<const char *>(LockResource(LoadResource(program, found)));
    std::string manifest(data, SizeofResource(program, found));
    EXPECT_EQ(manifest.rfind("<?xml", 0), 0u);
    EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls"), std::string::npos);
    EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
    FreeLibrary(program);
}
