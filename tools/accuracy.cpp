/* How close each protocol brings the clock to the server's time: a window
   that owns requests of the program's own request engine, as the
   program's windows do.  Run by tools/accuracy.sh, which starts the
   servers on loopback:

       accuracy.exe NAME sntp|time|service|several TRUE_MS HOST...
       accuracy.exe NAME nts|ntske TRUE_MS TRUST_FILE HOST

   takes 20 readings, host after host (the list repeats), and prints NAME
   with the median and the worst |offset measured - TRUE_MS|, the median
   round trip and the median time from the start of a fetch to its
   reading.  The Time protocol's reading is the whole second the clock
   would be set to, against the clock when the reading was taken;
   "service" has the time service take each SNTP reading, as the program
   does when it lacks the right to set the clock; "several" asks all the
   hosts in each fetch, the first as the host and the others as its list,
   and takes the reading of those that agree.  "nts" reads over NTS with
   the cookies in hand (one key exchange before the readings), "ntske"
   with a key exchange in every fetch. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "base/precisetime.h"
#include "timeclient/ntsjar.h"
#include "timeclient/request.h"
#include "timeclient/timeproto.h"

namespace {

const int kReadings = 20;
const char kOwnerClass[] = "horavex-accuracy";

RequestOutcome lastOutcome;
bool ended = false;
LONGLONG startedAt = 0;
LONGLONG endedAt = 0;

LRESULT CALLBACK OwnerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    TimeRequest *request = (TimeRequest *)GetWindowLongPtrA(window, 0);
    if (request == NULL)
        return DefWindowProcA(window, message, wParam, lParam);
    OutcomeKind kind = OnRequestMessage(request, window, message, wParam, lParam, &lastOutcome);
    if (kind == OUTCOME_NOT_OURS)
        return DefWindowProcA(window, message, wParam, lParam);
    if (kind >= OUTCOME_READING) {
        ended = true;
        endedAt = PreciseSystemTime();
    }
    return 0;
}

/* One fetch, its messages dispatched until it ends. */
bool Fetch(HWND window, TimeRequest *request, const char *host, int protocol, BOOL viaService,
           const StringList *others, const char *trust)
{
    FetchOrder order = {host, protocol, TIME_PORT, 0, viaService, NULL, 1, NULL, NULL, trust};
    if (others != NULL) {
        order.sources = others->itemCount + 1;
        order.hosts = others;
    }
    ended = false;
    startedAt = PreciseSystemTime();
    if (!StartFetch(request, window, &order, &lastOutcome))
        ended = true;
    MSG message;
    while (!ended && GetMessageA(&message, NULL, 0, 0) > 0)
        DispatchMessageA(&message);
    if (lastOutcome.kind != OUTCOME_READING)
        fprintf(stderr, "%s: %s\n", host, lastOutcome.report);
    return lastOutcome.kind == OUTCOME_READING;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

/* A host asked again waits out its two seconds here, so that the fetch
   time is the exchange's alone (the engine, and the service, would wait). */
void SpaceFrom(const char *host, const char *lastHost, LONGLONG lastAt)
{
    LONGLONG spacing = (SNTP_SPACING_MS + 100) * TICKS_PER_MS;
    if (lastHost != NULL && strcmp(host, lastHost) == 0)
        while (PreciseSystemTime() - lastAt < spacing)
            Sleep(10);
}

/* The Time protocol's error is the part of the second its whole seconds
   leave out: the readings start at each twentieth of a second in turn. */
void WaitForTwentieth(int i)
{
    while ((PreciseSystemTime() / TICKS_PER_MS) % 1000 / 50 != i % 20)
        Sleep(1);
}

} // namespace

int main(int argc, char **argv)
{
    BOOL viaService = argc > 2 && strcmp(argv[2], "service") == 0;
    bool several = argc > 2 && strcmp(argv[2], "several") == 0;
    bool rekeying = argc > 2 && strcmp(argv[2], "ntske") == 0;
    bool nts = rekeying || (argc > 2 && strcmp(argv[2], "nts") == 0);
    if (argc < (nts ? 6 : 5)
        || (strcmp(argv[2], "sntp") != 0 && strcmp(argv[2], "time") != 0 && !viaService
            && !several && !nts)) {
        fprintf(stderr, "usage: accuracy.exe NAME sntp|time|service|several TRUE_MS HOST...\n"
                        "       accuracy.exe NAME nts|ntske TRUE_MS TRUST_FILE HOST\n");
        return 2;
    }
    const char *trust = nts ? argv[4] : NULL;
    int firstHost = nts ? 5 : 4;
    StringList others = {0, NULL};
    char *otherHosts[16];
    for (int i = 5; several && i < argc && others.itemCount < 16; i++)
        otherHosts[others.itemCount++] = argv[i];
    others.items = otherHosts;
    int protocol = strcmp(argv[2], "time") == 0 ? PROTOCOL_TIME
                   : nts                        ? PROTOCOL_NTS
                                                : PROTOCOL_SNTP;
    double trueMs = atof(argv[3]);
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = OwnerProc;
    windowClass.cbWndExtra = sizeof(LONG_PTR);
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.lpszClassName = kOwnerClass;
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(0, kOwnerClass, "", WS_POPUP, 0, 0, 0, 0, NULL, NULL,
                                  windowClass.hInstance, NULL);
    TimeRequest *request = NewTimeRequest();
    SetWindowLongPtrA(window, 0, (LONG_PTR)request);
    std::vector<double> errors, delays, fetches;
    const char *lastHost = NULL;
    if (nts && !rekeying) {
        Fetch(window, request, argv[firstHost], protocol, FALSE, NULL, trust);
        lastHost = argv[firstHost];
    }
    for (int i = 0; i < kReadings; i++) {
        const char *host = several ? argv[4] : argv[firstHost + i % (argc - firstHost)];
        SpaceFrom(host, lastHost, startedAt);
        if (rekeying)
            ForgetNtsServers();
        if (protocol == PROTOCOL_TIME)
            WaitForTwentieth(i);
        lastHost = host;
        if (!Fetch(window, request, host, protocol, viaService, several ? &others : NULL, trust))
            continue;
        const TimeSample &sample = lastOutcome.sample;
        fetches.push_back((double)(endedAt - startedAt) / TICKS_PER_MS);
        if (viaService) {
            errors.push_back((double)sample.offset / TICKS_PER_MS - trueMs);
            delays.push_back(sample.lag);
        } else if (protocol != PROTOCOL_TIME) {
            errors.push_back((double)sample.offset / TICKS_PER_MS - trueMs);
            delays.push_back((double)sample.delay / TICKS_PER_MS);
        } else {
            LONGLONG set = TICKS_1601_TO_1970 + (LONGLONG)sample.serverTime * TICKS_PER_SECOND;
            errors.push_back((double)(set - endedAt) / TICKS_PER_MS - trueMs);
            delays.push_back(sample.lag);
        }
    }
    std::vector<double> sizes;
    for (double error : errors)
        sizes.push_back(error < 0 ? -error : error);
    double worst = sizes.empty() ? 0 : *std::max_element(sizes.begin(), sizes.end());
    printf("%-34s %5zu %14.3f %14.3f %14.3f %14.3f\n", argv[1], sizes.size(), Median(sizes), worst,
           Median(delays), Median(fetches));
    FreeTimeRequest(request);
    WSACleanup();
    return 0;
}
