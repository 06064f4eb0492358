#include "process.h"

#include "base/globals.h"
#include "windowhelpers.h"

std::string HoravexPath()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, path, sizeof path);
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of('\\') + 1) + "horavex.exe";
}

namespace {

/* This process's token without SeSystemtimePrivilege: under Wine every
   process holds it, and a restricted token is how a standard user's looks. */
HANDLE TokenWithoutClockRight()
{
    HANDLE token = NULL;
    HANDLE restricted = NULL;
    LUID_AND_ATTRIBUTES dropped = {};
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &token))
        return NULL;
    if (LookupPrivilegeValueA(NULL, SE_SYSTEMTIME_NAME, &dropped.Luid))
        CreateRestrictedToken(token, 0, 0, NULL, 1, &dropped, 0, NULL, &restricted);
    CloseHandle(token);
    return restricted;
}

} // namespace

HoravexProcess::HoravexProcess(const std::string &arguments, const std::string &program,
                               bool withoutClockRight)
{
    std::string commandLine = "\"" + program + "\"" + (arguments.empty() ? "" : " " + arguments);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    HANDLE token = withoutClockRight ? TokenWithoutClockRight() : NULL;
    if (withoutClockRight && token == NULL)
        return;
    BOOL created = token != NULL
                       ? CreateProcessAsUserA(token, program.c_str(), &commandLine[0], NULL, NULL,
                                              FALSE, 0, NULL, NULL, &startup, &info)
                       : CreateProcessA(program.c_str(), &commandLine[0], NULL, NULL, FALSE, 0,
                                        NULL, NULL, &startup, &info);
    if (token != NULL)
        CloseHandle(token);
    if (!created)
        return;
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    id_ = info.dwProcessId;
}

HoravexProcess::~HoravexProcess()
{
    if (process_ == NULL)
        return;
    if (Running()) {
        TerminateProcess(process_, 99);
        WaitForSingleObject(process_, 5000);
    }
    CloseHandle(process_);
}

bool HoravexProcess::Running() const
{
    return process_ != NULL && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

bool HoravexProcess::WaitForExit(DWORD timeoutMs)
{
    return process_ != NULL && WaitForSingleObject(process_, timeoutMs) == WAIT_OBJECT_0;
}

DWORD HoravexProcess::ExitCode() const
{
    DWORD code = STILL_ACTIVE;
    if (process_ != NULL)
        GetExitCodeProcess(process_, &code);
    return code;
}

HWND HoravexProcess::MainWindow(DWORD timeoutMs) const
{
    return WaitForWindow(MAIN_WINDOW_CLASS, NULL, id_, timeoutMs);
}

bool HoravexProcess::Close(DWORD timeoutMs)
{
    HWND window = MainWindow(timeoutMs);
    if (window != NULL)
        PostMessageA(window, WM_CLOSE, 0, 0);
    return WaitForExit(timeoutMs);
}

bool StartHostProgram(const std::string &commandLine)
{
    std::string line = commandLine;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(NULL, &line[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &info))
        return false;
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return true;
}

std::string WindowsPath(const std::string &unixPath)
{
    std::string path = "Z:" + unixPath;
    for (char &c : path)
        if (c == '/')
            c = '\\';
    return path;
}
