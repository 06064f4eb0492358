#include "timeserver.h"

#include <stdio.h>
#include <string.h>
#include <time.h>

#include <ws2tcpip.h>

#include "pump.h"

namespace {

DWORD MillisecondsIntoSecond()
{
    SYSTEMTIME now;
    GetSystemTime(&now);
    return now.wMilliseconds;
}

void WaitForPartOfSecond(DWORD from, DWORD to)
{
    WaitUntil([&] {
        DWORD ms = MillisecondsIntoSecond();
        return ms >= from && ms < to;
    }, 3000);
}

} // namespace

SOCKET BindOwnAddress(int type, u_short port, std::string *address)
{
    static int next = 0;
    int start = (int)(GetCurrentProcessId() * 7 % 20000);
    for (int i = 0; i < 60000; i++) {
        int n = (start + next++) % 60000;
        char text[32];
        snprintf(text, sizeof text, "127.0.%d.%d", 1 + n / 250, 2 + n % 250);
        SOCKET s = socket(AF_INET, type, 0);
        if (s == INVALID_SOCKET)
            return s;
        sockaddr_in where = {};
        where.sin_family = AF_INET;
        where.sin_port = htons(port);
        where.sin_addr.s_addr = inet_addr(text);
        if (bind(s, reinterpret_cast<sockaddr *>(&where), sizeof where) == 0) {
            *address = text;
            return s;
        }
        closesocket(s);
    }
    return INVALID_SOCKET;
}

bool Readable(SOCKET s, long microseconds)
{
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval wait = {0, microseconds};
    return select(0, &set, NULL, NULL, &wait) == 1;
}

TimeReply TimeReply::Values(std::vector<uint32_t> raw)
{
    TimeReply reply;
    reply.raw = std::move(raw);
    return reply;
}

TimeReply TimeReply::Now(long offsetSeconds)
{
    TimeReply reply;
    reply.fromNow = true;
    reply.offsetSeconds = offsetSeconds;
    return reply;
}

TimeReply TimeReply::CloseWithoutData()
{
    TimeReply reply;
    reply.kind = CLOSE_WITHOUT_DATA;
    return reply;
}

TimeReply TimeReply::NeverAnswer()
{
    TimeReply reply;
    reply.kind = NEVER_ANSWER;
    return reply;
}

TimeReply TimeReply::Refused()
{
    TimeReply reply;
    reply.kind = REFUSE;
    return reply;
}

TimeReply TimeReply::NoConnection()
{
    TimeReply reply;
    reply.kind = NO_CONNECTION;
    return reply;
}

namespace {

SOCKET BindGivenAddress(const char *text, u_short port)
{
    SOCKADDR_STORAGE where = {};
    int length = sizeof where;
    int family = strchr(text, ':') != NULL ? AF_INET6 : AF_INET;
    if (WSAStringToAddressA(const_cast<char *>(text), family, NULL, (LPSOCKADDR)&where, &length)
        != 0)
        return INVALID_SOCKET;
    ((SOCKADDR_IN *)&where)->sin_port = htons(port);
    SOCKET s = socket(family, SOCK_STREAM, IPPROTO_TCP);
    if (s != INVALID_SOCKET && bind(s, (LPSOCKADDR)&where, length) != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

} // namespace

TestTimeServer::TestTimeServer(const TimeReply &reply, const char *address) : reply_(reply)
{
    if (address != nullptr) {
        address_ = address;
        listener_ = BindGivenAddress(address, 37);
    } else {
        listener_ = BindOwnAddress(SOCK_STREAM, 37, &address_);
    }
    if (listener_ == INVALID_SOCKET || reply_.kind == TimeReply::REFUSE)
        return;
    if (reply_.kind == TimeReply::NO_CONNECTION) {
        /* One connection of its own that is never taken fills the queue:
           the next ones get no answer at all. */
        listen(listener_, 0);
        queued_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in where = {};
        where.sin_family = AF_INET;
        where.sin_port = htons(37);
        where.sin_addr.s_addr = inet_addr(address_.c_str());
        connect(queued_, reinterpret_cast<sockaddr *>(&where), sizeof where);
        return;
    }
    listen(listener_, 8);
    thread_ = std::thread(&TestTimeServer::Serve, this);
}

TestTimeServer::~TestTimeServer()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    for (SOCKET s : held_)
        closesocket(s);
    if (queued_ != INVALID_SOCKET)
        closesocket(queued_);
    if (listener_ != INVALID_SOCKET)
        closesocket(listener_);
}

std::vector<uint32_t> TestTimeServer::Sent() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return sent_;
}

bool TestTimeServer::WaitForConnections(int count, DWORD timeoutMs) const
{
    return PumpUntil([&] { return connections_ >= count; }, timeoutMs);
}

bool TestTimeServer::WaitForClosedByClient(int count, DWORD timeoutMs) const
{
    return PumpUntil([&] { return closedByClient_ >= count; }, timeoutMs);
}

void TestTimeServer::Serve()
{
    while (!stop_) {
        WatchHeld();
        /* Short, so that held connections are watched while none comes. */
        if (!Readable(listener_, 20))
            continue;
        SOCKET client = accept(listener_, NULL, NULL);
        if (client == INVALID_SOCKET)
            continue;
        connections_++;
        switch (reply_.kind) {
        case TimeReply::CLOSE_WITHOUT_DATA:
            closesocket(client);
            break;
        case TimeReply::NEVER_ANSWER:
            held_.push_back(client);
            break;
        default:
            Answer(client);
            break;
        }
    }
}

/* A held connection that turns readable has been closed by the client. */
void TestTimeServer::WatchHeld()
{
    for (size_t i = 0; i < held_.size();) {
        char data;
        if (Readable(held_[i], 0) && recv(held_[i], &data, 1, 0) <= 0) {
            closesocket(held_[i]);
            held_.erase(held_.begin() + (long)i);
            closedByClient_++;
        } else {
            i++;
        }
    }
}

uint32_t TestTimeServer::NextValue()
{
    if (reply_.fromNow)
        return RawTime((long long)time(NULL) + reply_.offsetSeconds);
    size_t index = sent_.size() < reply_.raw.size() ? sent_.size() : reply_.raw.size() - 1;
    return reply_.raw[index];
}

void TestTimeServer::Answer(SOCKET client)
{
    DWORD delay = reply_.delayMs;
    if (!reply_.delaysMs.empty()) {
        size_t index = (size_t)connections_ - 1;
        delay = reply_.delaysMs[index < reply_.delaysMs.size() ? index : reply_.delaysMs.size() - 1];
    }
    if (delay != 0)
        Sleep(delay);
    if (reply_.lateInSecond)
        WaitForPartOfSecond(600, 800);
    if (reply_.earlyInSecond)
        WaitForPartOfSecond(100, 400);
    uint32_t value = NextValue();
    uint32_t wire = htonl(value);
    const char *bytes = reinterpret_cast<const char *>(&wire);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        sent_.push_back(value);
    }
    if (reply_.splitPauseMs != 0) {
        send(client, bytes, 2, 0);
        Sleep(reply_.splitPauseMs);
        send(client, bytes + 2, 2, 0);
    } else {
        send(client, bytes, reply_.bytes, 0);
    }
    if (reply_.keepOpen)
        held_.push_back(client);
    else
        closesocket(client);
}
