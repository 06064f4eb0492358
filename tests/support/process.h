#ifndef HORAVEX_TEST_PROCESS_H
#define HORAVEX_TEST_PROCESS_H

#include <windows.h>

#include <string>

std::string HoravexPath();

/* The real horavex.exe (next to the test program), started with a command
   line as a person would start it; ended by force if still running when
   the test is done. */
class HoravexProcess {
public:
    /* withoutClockRight: with a token that lacks the right to set the
       clock, as a standard user's does. */
    explicit HoravexProcess(const std::string &arguments = "",
                            const std::string &program = HoravexPath(),
                            bool withoutClockRight = false);
    ~HoravexProcess();
    HoravexProcess(const HoravexProcess &) = delete;
    HoravexProcess &operator=(const HoravexProcess &) = delete;

    bool Started() const { return process_ != NULL; }
    DWORD Id() const { return id_; }
    bool Running() const;
    bool WaitForExit(DWORD timeoutMs);
    /* The exit code, or STILL_ACTIVE. */
    DWORD ExitCode() const;
    /* Its hidden main window, waited for. */
    HWND MainWindow(DWORD timeoutMs = 10000) const;
    /* Asks it to end as its menu's Exit does, and waits. */
    bool Close(DWORD timeoutMs = 10000);

private:
    HANDLE process_ = NULL;
    DWORD id_ = 0;
};

/* Starts a program of the Linux host beside Wine, its command line's first
   word a Unix path.  Wine runs it detached: there is no handle to wait on
   and no exit code, so it reports through files; false if it did not
   start. */
bool StartHostProgram(const std::string &commandLine);

/* The Windows path of a Unix path (through drive Z:, which is "/"). */
std::string WindowsPath(const std::string &unixPath);

#endif
