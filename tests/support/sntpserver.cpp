#include "sntpserver.h"

#include <stdio.h>
#include <string.h>

#include <fstream>
#include <sstream>

#include "process.h"
#include "pump.h"

namespace {

std::string AnswerArgument(const SntpAnswer &answer)
{
    std::ostringstream text;
    text << "offset=" << answer.offsetMs << ",delay=" << answer.delayMs << ",at=" << answer.fixedTime
         << ",length=" << answer.length << ",leap=" << answer.leap << ",version=" << answer.version
         << ",mode=" << answer.mode << ",stratum=" << answer.stratum
         << ",rootdisp=" << answer.rootDispersionMs << ",txearly=" << answer.transmitEarlyMs;
    if (answer.kiss != nullptr)
        text << ",kiss=" << answer.kiss;
    text << (answer.zeroTransmit ? ",zerotx=1" : "") << (answer.zeroReceive ? ",zerorx=1" : "") << (answer.wrongOriginate ? ",wrongorig=1" : "")
         << (answer.duplicate ? ",dup=1" : "") << (answer.silent ? ",silent=1" : "");
    return text.str();
}

std::string ReadFile(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::string FromHex(const std::string &hex)
{
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += (char)strtoul(hex.substr(i, 2).c_str(), NULL, 16);
    return bytes;
}

} // namespace

long long UnixTime(int year, int month, int day, int hour, int minute, int second)
{
    SYSTEMTIME fields = {(WORD)year, (WORD)month, 0, (WORD)day, (WORD)hour, (WORD)minute,
                         (WORD)second, 0};
    FILETIME time;
    SystemTimeToFileTime(&fields, &time);
    ULARGE_INTEGER ticks;
    ticks.LowPart = time.dwLowDateTime;
    ticks.HighPart = time.dwHighDateTime;
    return ((long long)ticks.QuadPart - 116444736000000000LL) / 10000000;
}

TestSntpServer::TestSntpServer(std::vector<SntpAnswer> answers, const char *address)
{
    static int made = 0;
    folder_ = "/tmp/horavex-sntp-" + std::to_string(GetCurrentProcessId()) + "-" +
              std::to_string(GetTickCount()) + "-" + std::to_string(made++);
    CreateDirectoryA(WindowsPath(folder_).c_str(), NULL);
    /* Its own output, and a lifetime of its own should the test end
       without stopping it. */
    std::string command = "/bin/sh -c \"exec timeout 30 /usr/bin/python3 '" HORAVEX_TEST_SUPPORT_DIR
                          "/sntpserver.py' " + folder_;
    if (address != nullptr)
        command += " @" + std::string(address);
    for (const SntpAnswer &answer : answers)
        command += " " + AnswerArgument(answer);
    if (!StartHostProgram(command + " >" + folder_ + "/log 2>&1 </dev/null\""))
        return;
    std::string addressFile = WindowsPath(folder_ + "/address");
    WaitUntil([&] { return GetFileAttributesA(addressFile.c_str()) != INVALID_FILE_ATTRIBUTES; },
              5000);
    address_ = ReadFile(addressFile);
}

TestSntpServer::~TestSntpServer()
{
    if (!address_.empty()) {
        SOCKET stop = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in server = {};
        server.sin_family = AF_INET;
        server.sin_port = htons(123);
        server.sin_addr.s_addr = inet_addr(address_.c_str());
        sendto(stop, "STOP", 4, 0, reinterpret_cast<sockaddr *>(&server), sizeof server);
        closesocket(stop);
    }
    for (const char *name : {"/address", "/received", "/log"})
        DeleteFileA(WindowsPath(folder_ + name).c_str());
    RemoveDirectoryA(WindowsPath(folder_).c_str());
}

void TestSntpServer::ReadLog(std::vector<std::string> *packets, std::vector<long long> *times) const
{
    std::istringstream lines(ReadFile(WindowsPath(folder_ + "/received")));
    long long at;
    std::string hex;
    while (lines >> at >> hex) {
        if (packets != NULL)
            packets->push_back(FromHex(hex));
        if (times != NULL)
            times->push_back(at);
    }
}

std::vector<std::string> TestSntpServer::Received() const
{
    std::vector<std::string> packets;
    ReadLog(&packets, NULL);
    return packets;
}

std::vector<long long> TestSntpServer::ReceivedAt() const
{
    std::vector<long long> times;
    ReadLog(NULL, &times);
    return times;
}
