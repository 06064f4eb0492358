#include "chrony.h"

#include <windows.h>
#include <stdlib.h>

#include <fstream>
#include <iterator>

#include "process.h"
#include "pump.h"

ChronyPeer::ChronyPeer(const std::string &address)
    : folder_("/tmp/horavex-chrony-" + std::to_string(GetCurrentProcessId()) + "-" +
              std::to_string(GetTickCount())),
      address_(address)
{
    bool ipv6 = address.find(':') != std::string::npos;
    CreateDirectoryA(WindowsPath(folder_).c_str(), NULL);
    std::ofstream(WindowsPath(folder_ + "/chrony.conf"))
        << "bindaddress " << address << "\nport 123\nallow " << (ipv6 ? "::1" : "127.0.0.0/8")
        << "\nlocal stratum 2\ncmdport 0\npidfile " << folder_ << "/chronyd.pid\n"
        << "driftfile " << folder_ << "/drift\n";
    /* Its own output, and a lifetime of its own should the test end
       without stopping it. */
    started_ = StartHostProgram("/bin/sh -c \"exec timeout 30 /usr/sbin/chronyd -d -x -u root -f " +
                                folder_ + "/chrony.conf >" + folder_ + "/log 2>&1 </dev/null\"");
}

ChronyPeer::~ChronyPeer()
{
    StartHostProgram("/usr/bin/pkill -f " + folder_ + "/chrony.conf");
    WaitUntil([&] { return !Exists("/chronyd.pid"); }, 5000);
    for (const char *name : {"/chrony.conf", "/drift", "/log", "/ntpdig.json", "/ntpdig.err"})
        DeleteFileA(WindowsPath(folder_ + name).c_str());
    RemoveDirectoryA(WindowsPath(folder_).c_str());
}

bool NtpdigOffsetOf(const std::string &address, const std::string &folder, double *offset)
{
    std::string json = folder + "/ntpdig.json";
    std::string shown = WindowsPath(json);
    bool answered = WaitUntil([&] {
        StartHostProgram("/bin/sh -c \"ntpdig -j " + address + " >" + json + ".part 2>" + folder +
                         "/ntpdig.err && mv " + json + ".part " + json + "\"");
        return WaitUntil([&] {
            return GetFileAttributesA(shown.c_str()) != INVALID_FILE_ATTRIBUTES;
        }, 500);
    }, 10000);
    std::ifstream in(shown);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t at = text.find("\"offset\":");
    if (!answered || at == std::string::npos)
        return false;
    *offset = atof(text.c_str() + at + 9);
    return true;
}

bool ChronyPeer::NtpdigOffset(double *offset)
{
    return started_ && NtpdigOffsetOf(address_, folder_, offset);
}

bool ChronyPeer::Exists(const char *name) const
{
    return GetFileAttributesA(WindowsPath(folder_ + name).c_str()) != INVALID_FILE_ATTRIBUTES;
}
