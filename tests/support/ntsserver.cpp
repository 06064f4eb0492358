#include "ntsserver.h"

#include <stdlib.h>

#include <fstream>
#include <sstream>

#include "chrony.h"
#include "process.h"
#include "pump.h"

TestNtsServer::TestNtsServer(const std::string &kind, const std::string &options)
{
    /* A folder of its own: Wine gives a later test program the number of
       an earlier one. */
    for (int n = 1; folder_.empty() && n < 1000; n++) {
        std::string folder = "/tmp/horavex-nts-" + std::to_string(GetCurrentProcessId()) + "-" +
                             std::to_string(GetTickCount()) + "-" + std::to_string(n);
        if (CreateDirectoryA(WindowsPath(folder).c_str(), NULL))
            folder_ = folder;
    }
    StartHostProgram("/bin/sh -c \"exec timeout 60 python3 " HORAVEX_TEST_SUPPORT_DIR
                     "/ntsserver.py " + folder_ + " " + kind + " nts.horavex.test " + options +
                     " >" + folder_ + "/log 2>&1 </dev/null\"");
    if (WaitUntil([&] { return Exists("address"); }, 10000))
        address_ = Read("address");
}

/* The server removes its folder as it ends. */
TestNtsServer::~TestNtsServer()
{
    std::ofstream(WindowsPath(folder_ + "/stop"));
    WaitUntil([&] { return !Exists(""); }, 5000);
}

bool TestNtsServer::Ready() const
{
    return WaitUntil([&] { return Exists("ready"); }, 8000);
}

std::string TestNtsServer::TrustFile() const
{
    return WindowsPath(folder_ + "/ca.pem");
}

int TestNtsServer::KeyExchanges() const
{
    return Exists("exchanges") ? atoi(Read("exchanges").c_str()) : 0;
}

bool TestNtsServer::NtpdigOffset(double *offset) const
{
    return NtpdigOffsetOf(address_, folder_, offset);
}

bool TestNtsServer::Restart()
{
    std::ofstream(WindowsPath(folder_ + "/restart"));
    return WaitUntil([&] { return Exists("restarted"); }, 8000);
}

bool TestNtsServer::Exists(const std::string &leaf) const
{
    return GetFileAttributesA(WindowsPath(folder_ + "/" + leaf).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string TestNtsServer::Read(const std::string &leaf) const
{
    std::ifstream file(WindowsPath(folder_ + "/" + leaf));
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}
