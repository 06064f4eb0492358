#include <windows.h>
#include <stdlib.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "chrony.h"
#include "e2e.h"
#include "logfile.h"
#include "pump.h"
#include "sntpserver.h"
#include "timeclient/servicepipe.h"
#include "windowhelpers.h"

/* The installed program started as a standard user is (without the right
   to set the clock) and the time service the installer put beside it. */

namespace {

const DWORD kWait = 10000;
const char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Horavex";

bool ServiceInstalled()
{
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    SC_HANDLE service =
        manager != NULL ? OpenServiceA(manager, TIME_SERVICE_NAME, SERVICE_QUERY_STATUS) : NULL;
    if (service != NULL)
        CloseServiceHandle(service);
    if (manager != NULL)
        CloseServiceHandle(manager);
    return service != NULL;
}

/* A program of this test serving the service's pipe name: it would say
   it set the clock. */
class Impostor {
public:
    Impostor() : thread_(&Impostor::Serve, this) {}
    ~Impostor()
    {
        stop_ = true;
        SetEvent(stopEvent_);
        thread_.join();
        CloseHandle(stopEvent_);
    }
    int Requests() const { return requests_; }

private:
    void Serve()
    {
        while (!stop_) {
            HANDLE pipe = CreateNamedPipeA(TIME_SERVICE_PIPE, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                           PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, 4, 512, 512,
                                           0, NULL);
            OVERLAPPED overlapped = {};
            overlapped.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
            ConnectNamedPipe(pipe, &overlapped);
            HANDLE events[2] = {overlapped.hEvent, stopEvent_};
            if (WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0) {
                requests_++;
                ServiceAnswer answer = {};
                answer.result = SERVICE_SET;
                lstrcpynA(answer.label, "reset", sizeof answer.label);
                BYTE message[SERVICE_ANSWER_SIZE];
                DWORD size = EncodeServiceAnswer(&answer, message);
                DWORD done = 0;
                WriteFile(pipe, message, size, &done, NULL);
            }
            CancelIo(pipe);
            CloseHandle(overlapped.hEvent);
            CloseHandle(pipe);
        }
    }

    std::atomic<bool> stop_{false};
    std::atomic<int> requests_{0};
    HANDLE stopEvent_ = CreateEventA(NULL, TRUE, FALSE, NULL);
    std::thread thread_;
};

/* The next free instance of the service's pipe, as any client opens it. */
HANDLE OpenServicePipeRaw()
{
    HANDLE pipe = INVALID_HANDLE_VALUE;
    WaitUntil([&] {
        pipe = CreateFileA(TIME_SERVICE_PIPE, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                           0, NULL);
        return pipe != INVALID_HANDLE_VALUE || GetLastError() != ERROR_PIPE_BUSY;
    }, 1000);
    DWORD mode = PIPE_READMODE_MESSAGE;
    if (pipe != INVALID_HANDLE_VALUE)
        SetNamedPipeHandleState(pipe, &mode, NULL, NULL);
    return pipe;
}

/* The service's answer to a message, decoded; false when none came. */
bool AnswerTo(HANDLE pipe, const std::string &message, ServiceAnswer *answer)
{
    DWORD done = 0;
    BYTE reply[SERVICE_ANSWER_SIZE + 1];
    return WriteFile(pipe, message.data(), (DWORD)message.size(), &done, NULL)
           && ReadFile(pipe, reply, sizeof reply, &done, NULL)
           && DecodeServiceAnswer(reply, done, answer);
}

} // namespace

class TimeService : public EndToEnd {
protected:
    void SetUp() override
    {
        EndToEnd::SetUp();
        uninstall_ = std::make_unique<RegistrySnapshot>(HKEY_LOCAL_MACHINE, kUninstallKey);
    }

    /* Uninstalled, nothing of the service is left. */
    void TearDown() override
    {
        if (!folder_.empty()) {
            EXPECT_EQ(RunAndWait(folder_ + "\\uninstall.exe", "/S"), 0u);
            EXPECT_TRUE(WaitUntil([] { return !ServiceInstalled(); }, kWait));
            std::string service = folder_ + "\\horavexsvc.exe";
            EXPECT_TRUE(WaitUntil([&] {
                return GetFileAttributesA(service.c_str()) == INVALID_FILE_ATTRIBUTES;
            }, kWait));
        }
        uninstall_.reset();
        EndToEnd::TearDown();
    }

    /* Installed silently with the machine's host, asking over SNTP. */
    bool Install(const std::string &host)
    {
        if (RunAndWait(SetupPath(), "/S /SNTP /HOST=" + host) != 0)
            return false;
        folder_ = ReadRegString(HKEY_LOCAL_MACHINE, kUninstallKey, "InstallLocation");
        return ServiceInstalled();
    }

    /* One quiet reading of the installed program without the right, as
       its verbose log line has it. */
    std::vector<std::string> ReadWithoutTheRight()
    {
        TempLogFile log;
        SeedNumber("quiet", 1);
        SeedNumber("sysTray", 1);
        SeedNumber("reportOnly", 0);
        SeedNumber("logOpts", 2);
        SeedText("logPath", log.Path());
        HoravexProcess horavex("", folder_ + "\\horavex.exe", true);
        std::vector<std::string> lines;
        if (!WaitUntil([&] { return log.Lines(&lines) && !lines.empty(); }, kWait))
            return {};
        horavex.Close();
        return SplitFields(lines[0]);
    }

    std::string folder_;

private:
    std::unique_ptr<RegistrySnapshot> uninstall_;
};

/* The reading that counts is the service's: the program asks nothing of
   the server itself, and the clock is set to the millisecond. */
TEST_F(TimeService, SetsTheClockForAProgramWithoutTheRight)
{
    TestSntpServer server;
    ASSERT_TRUE(Install(server.Address()));
    std::vector<std::string> line = ReadWithoutTheRight();
    ASSERT_EQ(line.size(), 11u);
    EXPECT_EQ(line[0], server.Address());
    EXPECT_EQ(line[10], "reset");
    EXPECT_EQ(server.Requests(), 1) << "one exchange, the service's";

    /* Installed over itself: the service stops for its file and runs again. */
    ASSERT_TRUE(Install(server.Address()));
    ChronyPeer chrony;
    double reference = 0;
    ASSERT_TRUE(chrony.NtpdigOffset(&reference));
    SeedText("host", "127.0.0.123");
    line = ReadWithoutTheRight();
    ASSERT_EQ(line.size(), 11u);
    EXPECT_EQ(line[10], "reset");
    EXPECT_NEAR(atof(line[7].c_str()), reference, 0.002);
}

/* With the service stopped nothing is set, and a program that serves its
   pipe's name meanwhile is not believed: the line says "failed" and the
   box why. */
TEST_F(TimeService, WithTheServiceStoppedNothingIsSet)
{
    TestSntpServer server;
    ASSERT_TRUE(Install(server.Address()));
    ASSERT_EQ(RunAndWait(folder_ + "\\horavexsvc.exe", "stop"), 0u);
    Impostor impostor;
    BoxAnswerer refusals("horavex Error", IDOK, kAnyHoravex);
    std::vector<std::string> line = ReadWithoutTheRight();
    ASSERT_EQ(line.size(), 11u);
    EXPECT_EQ(line[10], "failed");
    ASSERT_TRUE(refusals.WaitForCount(1, kWait));
    EXPECT_EQ(refusals.Text(), "Error setting system time\r\nThe Horavex Time Service is not "
                               "running: start it in Services, or with \"net start "
                               "HoravexTime\" as an administrator.");
    EXPECT_EQ(impostor.Requests(), 0);
}

/* A host that only the user's copy names is not served; the machine's
   userHosts lets the users choose. */
TEST_F(TimeService, ServesOnlyTheHostsTheMachineChose)
{
    TestSntpServer server;
    ASSERT_TRUE(Install("chosen.invalid"));
    BoxAnswerer refusals("horavex Error", IDOK, kAnyHoravex);
    for (DWORD userHosts : {0, 1}) {
        SeedText("host", "chosen.invalid");
        SetRegString(HKEY_CURRENT_USER, SETTINGS_KEY, "host", server.Address());
        SeedNumber("userHosts", userHosts);
        std::vector<std::string> line = ReadWithoutTheRight();
        ASSERT_EQ(line.size(), 11u) << userHosts;
        EXPECT_EQ(line[0], server.Address());
        EXPECT_EQ(line[10], userHosts ? "reset" : "failed");
    }
    ASSERT_EQ(refusals.Count(), 1);
    EXPECT_EQ(refusals.Text(), "Error setting system time\r\nThe Horavex Time Service refused: "
                               "the host is not one the administrator chose.");
}

/* Beyond the machine's limit the service sets nothing and the person is
   asked; Yes and No have it take a new reading and set within the
   answer (Wine then refuses a move of a second or more), Cancel leaves
   the clock alone. */
TEST_F(TimeService, AsksThePersonBeyondTheMachinesLimit)
{
    TestSntpServer first(SntpAnswer().Offset(2000));
    ASSERT_TRUE(Install(first.Address()));
    SeedNumber("maxAdjust", 1);
    struct Row {
        int answer;
        int requests;
        const char *label;
        double difference;
    } rows[] = {{IDYES, 2, "failed", 2.0}, {IDNO, 2, "failed", 1.0}, {IDCANCEL, 1, "ignore", 0.0}};
    for (const Row &row : rows) {
        TestSntpServer server(SntpAnswer().Offset(2000));
        SeedText("host", server.Address());
        BoxAnswerer question("Big Change", row.answer, kAnyHoravex);
        BoxAnswerer refusals("horavex Error", IDOK, kAnyHoravex);
        std::vector<std::string> line = ReadWithoutTheRight();
        ASSERT_EQ(line.size(), 11u) << row.answer;
        EXPECT_EQ(line[10], row.label) << row.answer;
        EXPECT_NEAR(atof(line[7].c_str()), row.difference, 0.05) << row.answer;
        EXPECT_EQ(server.Requests(), row.requests) << row.answer;
        ASSERT_EQ(question.Count(), 1);
        EXPECT_NE(question.Text().find("(2 secs) is greater than the specified maximum "
                                       "adjustment (1 secs)"),
                  std::string::npos)
            << question.Text();
    }
}

/* Silent clients, random bytes, an empty and an oversized message block
   nobody: a proper request is served at once, the rude ones get an error
   or nothing, and the silent ones are dropped after two seconds. */
TEST_F(TimeService, RudeClientsBlockNobody)
{
    TestSntpServer server;
    ASSERT_TRUE(Install(server.Address()));
    std::vector<HANDLE> silent;
    for (int i = 0; i < 3; i++)
        silent.push_back(OpenServicePipeRaw());
    DWORD start = GetTickCount();
    for (HANDLE pipe : silent)
        ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    std::string random(SERVICE_REQUEST_SIZE, '\0');
    for (char &c : random)
        c = (char)rand();
    struct Row {
        std::string message;
        bool answered;
    } rows[] = {{random, true}, {"", true}, {std::string(700, 'x'), false}};
    for (const Row &row : rows) {
        HANDLE pipe = OpenServicePipeRaw();
        ServiceAnswer answer = {};
        EXPECT_EQ(AnswerTo(pipe, row.message, &answer), row.answered) << row.message.size();
        if (row.answered) {
            EXPECT_EQ(answer.result, SERVICE_REFUSED);
        }
        CloseHandle(pipe);
    }
    ServiceRequest request;
    ServiceAnswer answer;
    ASSERT_TRUE(MakeServiceRequest(server.Address().c_str(), 1, SERVICE_BY_POLICY, 0, &request));
    EXPECT_EQ(AskTimeService(&request, &answer, kWait, NULL), SERVICE_ANSWERED);
    EXPECT_EQ(answer.result, SERVICE_SET);
    EXPECT_LT(GetTickCount() - start, 1500u) << "nobody waited for the silent ones";
    for (HANDLE pipe : silent) {
        char data;
        DWORD done = 0;
        EXPECT_FALSE(ReadFile(pipe, &data, 1, &done, NULL)) << "dropped";
        CloseHandle(pipe);
    }
    EXPECT_GE(GetTickCount() - start, 1900u);
}
