#ifndef HORAVEX_TEST_E2E_H
#define HORAVEX_TEST_E2E_H

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "process.h"
#include "registry.h"

/* Each case starts from no settings at all and leaves the registry and the
   profile's [sounds] entries as it found them. */
class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    static void SeedNumber(const char *name, DWORD value);
    static void SeedText(const char *name, const std::string &text);
    /* Settings under which a start fetches from host and stays resident. */
    static void SeedResident(const std::string &host);

    static long long Number(const char *name);
    static std::string Text(const char *name);

private:
    std::unique_ptr<RegistrySnapshot> settings_;
    std::unique_ptr<RegistrySnapshot> userSettings_;
    std::unique_ptr<SoundsSnapshot> sounds_;
};

/* Once start-up is over (the main dialog shows, after any fetch it began
   on opening), ends the program as its Exit would; false if it did not. */
bool CloseOnceItsDialogShows(HoravexProcess &horavex);

/* The stored host list, "host0" on to the first missing entry. */
std::vector<std::string> StoredHosts();
void SeedHosts(const std::vector<std::string> &hosts);

/* Runs a program with a command line and waits for its exit code. */
DWORD RunAndWait(const std::string &program, const std::string &arguments);

/* The installer built beside the programs. */
std::string SetupPath();

/* The empty-host warning, word for word. */
extern const char kEmptyHostWarning[];

#endif
