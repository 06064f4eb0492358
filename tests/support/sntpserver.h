#ifndef HORAVEX_TEST_SNTPSERVER_H
#define HORAVEX_TEST_SNTPSERVER_H

#include <windows.h>
#include <winsock2.h>

#include <string>
#include <vector>

/* How a scripted SNTP server answers one request. */
struct SntpAnswer {
    /* Its clock ahead of the real one. */
    SntpAnswer &Offset(long long ms) { offsetMs = ms; return *this; }
    /* Network delay, half on the way in and half on the way out. */
    SntpAnswer &Delay(DWORD ms) { delayMs = ms; return *this; }
    /* Answers this time (seconds since 1970) instead of its clock's. */
    SntpAnswer &At(long long seconds) { fixedTime = seconds; return *this; }
    SntpAnswer &Length(int bytes) { length = bytes; return *this; }
    SntpAnswer &Leap(int indicator) { leap = indicator; return *this; }
    SntpAnswer &Version(int number) { version = number; return *this; }
    SntpAnswer &Mode(int number) { mode = number; return *this; }
    SntpAnswer &Stratum(int number) { stratum = number; return *this; }
    /* Stratum 0 and this kiss code in the reference id. */
    SntpAnswer &Kiss(const char *code) { kiss = code; return *this; }
    SntpAnswer &RootDispersion(DWORD ms) { rootDispersionMs = ms; return *this; }
    SntpAnswer &ZeroTransmit() { zeroTransmit = true; return *this; }
    SntpAnswer &ZeroReceive() { zeroReceive = true; return *this; }
    /* Its transmit time that long before its receive time. */
    SntpAnswer &TransmitEarly(DWORD ms) { transmitEarlyMs = ms; return *this; }
    SntpAnswer &WrongOriginate() { wrongOriginate = true; return *this; }
    /* A second reply after the first, a second later in its times. */
    SntpAnswer &Duplicate() { duplicate = true; return *this; }
    SntpAnswer &Silent() { silent = true; return *this; }

    long long offsetMs = 0;
    DWORD delayMs = 0;
    long long fixedTime = 0;
    int length = 48;
    int leap = 0;
    int version = 4;
    int mode = 4;
    int stratum = 2;
    const char *kiss = nullptr;
    DWORD rootDispersionMs = 0;
    bool zeroTransmit = false;
    bool zeroReceive = false;
    DWORD transmitEarlyMs = 0;
    bool wrongOriginate = false;
    bool duplicate = false;
    bool silent = false;
};

/* An SNTP server on UDP port 123 of a loopback address of its own
   (tests/support/sntpserver.py, run beside Wine: see there why), that
   answers the requests in turn, the last answer repeating. */
class TestSntpServer {
public:
    /* On an address of its own, or on the one given. */
    explicit TestSntpServer(std::vector<SntpAnswer> answers, const char *address = nullptr);
    explicit TestSntpServer(const SntpAnswer &answer = SntpAnswer())
        : TestSntpServer(std::vector<SntpAnswer>{answer}) {}
    ~TestSntpServer();
    TestSntpServer(const TestSntpServer &) = delete;
    TestSntpServer &operator=(const TestSntpServer &) = delete;

    const std::string &Address() const { return address_; }
    int Requests() const { return (int)Received().size(); }
    /* The packets received, and when (milliseconds of the server's own
       steady clock), in order. */
    std::vector<std::string> Received() const;
    std::vector<long long> ReceivedAt() const;

private:
    void ReadLog(std::vector<std::string> *packets, std::vector<long long> *times) const;

    std::string folder_;
    std::string address_;
};

/* Seconds since 1970 of a UTC date. */
long long UnixTime(int year, int month, int day, int hour, int minute, int second);

#endif
