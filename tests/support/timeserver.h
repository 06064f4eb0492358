#ifndef HORAVEX_TEST_TIMESERVER_H
#define HORAVEX_TEST_TIMESERVER_H

#include <windows.h>
#include <winsock2.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

/* Seconds from 1900 to 1970: the Time protocol's base to the program's. */
constexpr uint32_t kSeconds1900To1970 = 2208988800u;

/* What a test time server does with each connection. */
struct TimeReply {
    enum Kind { ANSWER, CLOSE_WITHOUT_DATA, NEVER_ANSWER, REFUSE, NO_CONNECTION };

    /* The given raw values (seconds since 1900), one connection each; the
       last one repeats. */
    static TimeReply Values(std::vector<uint32_t> raw);
    static TimeReply Value(uint32_t raw) { return Values({raw}); }
    /* The current time plus offsetSeconds, taken when answering. */
    static TimeReply Now(long offsetSeconds = 0);
    static TimeReply CloseWithoutData();
    static TimeReply NeverAnswer();
    /* Nothing listens: connections are refused. */
    static TimeReply Refused();
    /* Listens, but its queue is full: a connection never comes about. */
    static TimeReply NoConnection();

    TimeReply &Delay(DWORD ms) { delayMs = ms; return *this; }
    /* A delay for each connection in turn; the last one repeats. */
    TimeReply &Delays(std::vector<DWORD> ms) { delaysMs = std::move(ms); return *this; }
    /* Sends only the first count bytes of the reply. */
    TimeReply &Bytes(int count) { bytes = count; return *this; }
    /* Two writes of two bytes, with a pause between them. */
    TimeReply &Split(DWORD pauseMs) { splitPauseMs = pauseMs; return *this; }
    /* Answers when the current second is between 0.6 and 0.8 gone. */
    TimeReply &LateInSecond() { lateInSecond = true; return *this; }
    /* Answers when the current second is between 0.1 and 0.4 gone. */
    TimeReply &EarlyInSecond() { earlyInSecond = true; return *this; }
    /* Leaves closing to the client instead of closing after the reply. */
    TimeReply &KeepOpen() { keepOpen = true; return *this; }

    Kind kind = ANSWER;
    std::vector<uint32_t> raw;
    bool fromNow = false;
    long offsetSeconds = 0;
    DWORD delayMs = 0;
    std::vector<DWORD> delaysMs;
    int bytes = 4;
    DWORD splitPauseMs = 0;
    bool lateInSecond = false;
    bool earlyInSecond = false;
    bool keepOpen = false;
};

/* An RFC 868 server on port 37 of a loopback address of its own, in a
   thread of the test process. */
class TestTimeServer {
public:
    /* On an address of its own, or on the one given (IPv4 or IPv6). */
    explicit TestTimeServer(const TimeReply &reply, const char *address = nullptr);
    ~TestTimeServer();
    TestTimeServer(const TestTimeServer &) = delete;
    TestTimeServer &operator=(const TestTimeServer &) = delete;

    const std::string &Address() const { return address_; }
    int Connections() const { return connections_; }
    /* Connections that the client closed while the server held them open. */
    int ClosedByClient() const { return closedByClient_; }
    /* Raw values sent, in order. */
    std::vector<uint32_t> Sent() const;
    /* These wait while dispatching the calling thread's messages. */
    bool WaitForConnections(int count, DWORD timeoutMs) const;
    bool WaitForClosedByClient(int count, DWORD timeoutMs) const;

private:
    void Serve();
    void Answer(SOCKET client);
    uint32_t NextValue();
    void WatchHeld();

    TimeReply reply_;
    std::string address_;
    SOCKET listener_ = INVALID_SOCKET;
    SOCKET queued_ = INVALID_SOCKET;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::atomic<int> closedByClient_{0};
    mutable std::mutex mutex_;
    std::vector<uint32_t> sent_;
    std::vector<SOCKET> held_;
    std::thread thread_;
};

/* A socket of type bound to port of a loopback address 127.0.a.b that no
   other socket of that type holds: each test server has its own. */
SOCKET BindOwnAddress(int type, u_short port, std::string *address);

/* True when s has something to read within the time. */
bool Readable(SOCKET s, long microseconds);

/* The raw reply for a time in seconds since 1970. */
inline uint32_t RawTime(long long secondsSince1970)
{
    return (uint32_t)(secondsSince1970 + kSeconds1900To1970);
}

#endif
