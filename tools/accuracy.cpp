/* How close each protocol brings the clock to the server's time: 20
   exchanges each against chrony (the host given, on loopback, whose true
   offset is 0), the scripted SNTP server 250 ms ahead, and a loopback Time
   server.  Run by tools/accuracy.sh; prints the median and the worst
   |offset measured - offset true| and the median delay. */
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/precisetime.h"
#include "requestowner.h"
#include "sntpserver.h"
#include "statewindow.h"
#include "timeserver.h"

namespace {

const int kExchanges = 20;

struct Figures {
    std::vector<double> errorsMs;
    std::vector<double> delaysMs;
};

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void Print(const char *name, const Figures &figures)
{
    std::vector<double> sizes;
    for (double error : figures.errorsMs)
        sizes.push_back(error < 0 ? -error : error);
    double worst = sizes.empty() ? 0 : *std::max_element(sizes.begin(), sizes.end());
    printf("%-30s %5zu %14.3f %14.3f %14.3f\n", name, sizes.size(), Median(sizes), worst,
           Median(figures.delaysMs));
}

/* SNTP: the offset measured against the one the server keeps. */
void MeasureSntp(RequestOwner &owner, AppState *state, const std::string &host, double trueMs,
                 Figures *figures)
{
    state->protocol = PROTOCOL_SNTP;
    RequestOutcome outcome = owner.Fetch(host, 4000);
    if (outcome.kind != OUTCOME_READING) {
        fprintf(stderr, "%s: %s\n", host.c_str(), outcome.report);
        return;
    }
    figures->errorsMs.push_back((double)owner.reading.offset / TICKS_PER_MS - trueMs);
    figures->delaysMs.push_back((double)state->sntp.delay / TICKS_PER_MS);
}

/* The Time protocol: the whole second the clock would be set to, against
   the clock when the reading was taken. */
void MeasureTime(RequestOwner &owner, AppState *state, const std::string &host, Figures *figures)
{
    state->protocol = PROTOCOL_TIME;
    if (owner.Fetch(host).kind != OUTCOME_READING)
        return;
    LONGLONG set = TICKS_1601_TO_1970 + (LONGLONG)owner.reading.serverTime * TICKS_PER_SECOND;
    figures->errorsMs.push_back((double)(set - owner.readAt) / TICKS_PER_MS);
    figures->delaysMs.push_back(owner.reading.lag);
}

} // namespace

int main(int argc, char **argv)
{
    WSADATA data;
    WSAStartup(MAKEWORD(1, 1), &data);
    StateWindow main;
    RequestOwner owner;
    Figures chrony, scripted, time;
    if (argc > 1)
        for (int i = 0; i < kExchanges; i++)
            MeasureSntp(owner, &main.state, argv[1], 0, &chrony);
    for (int i = 0; i < kExchanges; i++) {
        /* A server of its own each time: no two seconds' wait between. */
        TestSntpServer server(SntpAnswer().Offset(250));
        MeasureSntp(owner, &main.state, server.Address(), 250, &scripted);
    }
    TestTimeServer timeServer(TimeReply::Now(0));
    for (int i = 0; i < kExchanges; i++) {
        /* At each twentieth of a second in turn: the error is the part of
           the second that the whole seconds leave out. */
        while ((PreciseSystemTime() / TICKS_PER_MS) % 1000 / 50 != i)
            Sleep(1);
        MeasureTime(owner, &main.state, timeServer.Address(), &time);
    }
    printf("%-30s %5s %14s %14s %14s\n", "", "n", "median |err| ms", "worst |err| ms",
           "median delay ms");
    if (argc > 1)
        Print("SNTP, chrony (true 0)", chrony);
    Print("SNTP, scripted (true +250 ms)", scripted);
    Print("Time protocol (true 0)", time);
    WSACleanup();
    return 0;
}
