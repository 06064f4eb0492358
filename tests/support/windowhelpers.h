#ifndef HORAVEX_TEST_WINDOWHELPERS_H
#define HORAVEX_TEST_WINDOWHELPERS_H

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

/* For processId: any running horavex.exe, whichever started it. */
constexpr DWORD kAnyHoravex = 0xFFFFFFFFu;

/* A top-level window of the class (and title, unless null) that belongs to
   the process (any process when 0), waited for up to timeoutMs. */
HWND WaitForWindow(const char *className, const char *title, DWORD processId, DWORD timeoutMs);
HWND FindTopWindow(const char *className, const char *title, DWORD processId);

std::string WindowText(HWND window);

/* The message of a message box: the text of its Static children. */
std::string MessageBoxText(HWND box);

/* Answers a box that is showing with the button (once it is visible). */
void AnswerBox(HWND box, int button);

/* Watches for message boxes with the title in one process and answers each
   with the button, after holding it open for holdMs. */
class BoxAnswerer {
public:
    BoxAnswerer(const char *title, int button, DWORD processId = GetCurrentProcessId(),
                DWORD holdMs = 0);
    ~BoxAnswerer();
    BoxAnswerer(const BoxAnswerer &) = delete;
    BoxAnswerer &operator=(const BoxAnswerer &) = delete;

    int Count() const;
    /* Texts of the boxes answered, oldest first. */
    std::vector<std::string> Texts() const;
    std::string Text() const;
    /* Owner window of the last box answered. */
    HWND Owner() const;
    /* Waits while dispatching the calling thread's messages. */
    bool WaitForCount(int count, DWORD timeoutMs) const;

private:
    void Watch();

    std::string title_;
    int button_;
    DWORD processId_;
    DWORD holdMs_;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::vector<std::string> texts_;
    HWND owner_ = NULL;
    std::thread watcher_;
};

#endif
