#ifndef HORAVEX_TEST_MAINWINDOW_H
#define HORAVEX_TEST_MAINWINDOW_H

#include <gtest/gtest.h>

#include <memory>

#include "base/appstate.h"
#include "registry.h"

/* The program's own main window, created in the test process: settings
   from a seeded registry that is put back afterwards.  Its first tick is
   queued but not yet handled when Create returns. */
class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    void Create();
    /* Removes the queued first tick, for tests that drive the window alone. */
    void DropFirstTick();
    /* Sets up a quiet, resident fetch from host, as the stored settings would. */
    void MakeQuiet(const std::string &host);
    AppState *State() const { return AppStateOf(window_); }
    TimeRequest *Request() const { return State()->request; }
    std::string Title() const;
    /* Pumps until the title is no longer the initial one. */
    bool WaitForTitleChange(DWORD timeoutMs);
    /* Pumps until no request holds a socket. */
    bool WaitForRest(DWORD timeoutMs);

    HWND window_ = NULL;

private:
    std::unique_ptr<RegistrySnapshot> settings_;
    std::unique_ptr<RegistrySnapshot> userSettings_;
    std::unique_ptr<SoundsSnapshot> sounds_;
};

#endif
