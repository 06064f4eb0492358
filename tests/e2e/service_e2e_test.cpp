#include <winsock2.h>
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <stdlib.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "chrony.h"
#include "dialog.h"
#include "e2e.h"
#include "logfile.h"
#include "ntsserver.h"
#include "pump.h"
#include "resource.h"
#include "sntpserver.h"
#include "timeclient/servicepipe.h"
#include "timeserver.h"
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

bool ServiceRunning()
{
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    SC_HANDLE service =
        manager != NULL ? OpenServiceA(manager, TIME_SERVICE_NAME, SERVICE_QUERY_STATUS) : NULL;
    SERVICE_STATUS status = {};
    bool running = service != NULL && QueryServiceStatus(service, &status)
                   && status.dwCurrentState == SERVICE_RUNNING;
    if (service != NULL)
        CloseServiceHandle(service);
    if (manager != NULL)
        CloseServiceHandle(manager);
    return running;
}

/* A reading of host over SNTP, asked as the program asks. */
ServiceAnswer AskFor(const std::string &host, int protocol = 1)
{
    ServiceRequest request;
    ServiceAnswer answer = {};
    answer.result = -1;
    if (MakeServiceRequest(host.c_str(), protocol, SERVICE_BY_POLICY, 0, &request)
        && AskTimeService(&request, &answer, NULL) != SERVICE_ANSWERED)
        answer.result = -1;
    return answer;
}

/* The access an ACE of the descriptor grants or denies the SID, and its
   kind; -1 when there is none. */
int AceFor(PACL dacl, const char *sidText, DWORD *mask)
{
    for (DWORD i = 0; dacl != NULL && i < dacl->AceCount; i++) {
        ACCESS_ALLOWED_ACE *ace = NULL;
        char *text = NULL;
        if (!GetAce(dacl, i, (void **)&ace) || !ConvertSidToStringSidA(&ace->SidStart, &text))
            continue;
        bool same = strcmp(text, sidText) == 0;
        LocalFree(text);
        if (same) {
            *mask = ace->Mask;
            return ace->Header.AceType;
        }
    }
    return -1;
}

/* Another process's instances of the service's name, as many as it can
   make up to count. */
class Squatter {
public:
    explicit Squatter(int count)
    {
        for (int i = 0; i < count; i++) {
            HANDLE pipe = CreateNamedPipeA(TIME_SERVICE_PIPE, PIPE_ACCESS_DUPLEX,
                                           PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, 9, 512, 512,
                                           0, NULL);
            if (pipe != INVALID_HANDLE_VALUE)
                pipes_.push_back(pipe);
        }
    }
    ~Squatter()
    {
        for (HANDLE pipe : pipes_)
            CloseHandle(pipe);
    }
    size_t Count() const { return pipes_.size(); }

private:
    std::vector<HANDLE> pipes_;
};

/* The next free instance of the service's pipe, as any client opens it. */
HANDLE OpenServicePipeRaw()
{
    HANDLE pipe = INVALID_HANDLE_VALUE;
    WaitUntil([&] {
        pipe = CreateFileA(TIME_SERVICE_PIPE, TIME_SERVICE_CLIENT_ACCESS, 0, NULL, OPEN_EXISTING,
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

    /* Installed silently with the machine's host, asking over SNTP
       unless told. */
    bool Install(const std::string &host, const std::string &options = "/SNTP")
    {
        if (RunAndWait(SetupPath(), "/S " + options + " /HOST=" + host) != 0)
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

/* NTS through the service, with the CA the installer's /TRUST= named: the
   reading that sets the clock is authenticated, also for a user who asks
   for SNTP where the machine chose NTS, and the service keeps its
   cookies from one client to the next. */
TEST_F(TimeService, SetsTheClockFromAnAuthenticatedReading)
{
    TestNtsServer server;
    ASSERT_TRUE(Install(server.Address(), "/NTS /TRUST=" + server.TrustFile()));
    ASSERT_TRUE(server.Ready());
    EXPECT_EQ(Number("protocol"), 2);
    EXPECT_EQ(Text("ntsTrust"), server.TrustFile());
    for (DWORD userProtocol : {2, 1}) {
        SetRegDword(HKEY_CURRENT_USER, SETTINGS_KEY, "protocol", userProtocol);
        std::vector<std::string> line = ReadWithoutTheRight();
        ASSERT_EQ(line.size(), 12u) << "the user's protocol " << userProtocol;
        EXPECT_EQ(line[10], "reset");
        EXPECT_EQ(line[11], "authenticated");
    }
    EXPECT_EQ(server.KeyExchanges(), 1);
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

    /* The machine's names match but for ASCII letter case, never by a
       language's rules: a look-alike that someone else may register is
       refused before anything is looked up. */
    TestSntpServer maersk({SntpAnswer()}, "127.210.7.1");
    TestSntpServer mass({SntpAnswer()}, "127.210.7.2");
    SeedNumber("userHosts", 0);
    SeedText("host", "maersk.sntp.horavex.test");
    SeedHosts({"mass.sntp.horavex.test"});
    struct Row {
        const char *host;
        int result;
    } rows[] = {
        {"MAERSK.SNTP.HORAVEX.TEST", SERVICE_SET},
        {"Mass.Sntp.Horavex.Test", SERVICE_SET},
        {"m\xe6rsk.sntp.horavex.test", SERVICE_REFUSED},
        {"ma\xdf.sntp.horavex.test", SERVICE_REFUSED},
        {"mae\xadrsk.sntp.horavex.test", SERVICE_REFUSED},
    };
    for (const Row &row : rows)
        EXPECT_EQ(AskFor(row.host).result, row.result) << row.host;
    EXPECT_EQ(maersk.Requests(), 1);
    EXPECT_EQ(mass.Requests(), 1);
}

/* A server that accepts and never answers freezes nobody: its request
   ends within the deadline without a reading, and a proper one beside it
   is answered within its own. */
TEST_F(TimeService, ASilentServerFreezesNobody)
{
    TestSntpServer proper;
    TestTimeServer silent(TimeReply::NeverAnswer());
    ASSERT_TRUE(Install(proper.Address()));
    SeedNumber("userHosts", 1);
    ServiceAnswer silentAnswer = {};
    DWORD silentTook = 0;
    std::thread first([&] {
        DWORD start = GetTickCount();
        silentAnswer = AskFor(silent.Address(), 0);
        silentTook = GetTickCount() - start;
    });
    ASSERT_TRUE(silent.WaitForConnections(1, 3000));
    DWORD start = GetTickCount();
    ServiceAnswer properAnswer = AskFor(proper.Address());
    DWORD properTook = GetTickCount() - start;
    first.join();
    EXPECT_EQ(properAnswer.result, SERVICE_SET);
    EXPECT_LT(properTook, (DWORD)SERVICE_DEADLINE_MS);
    EXPECT_EQ(silentAnswer.result, SERVICE_NO_READING);
    EXPECT_EQ(std::string(silentAnswer.text), "No answer from: " + silent.Address());
    EXPECT_LT(silentTook, (DWORD)SERVICE_DEADLINE_MS + 500);
}

/* After "Big Change" the service's new reading runs beside the dialog:
   the dialog answers its messages meanwhile, and Stop! ends it with
   nothing logged. */
TEST_F(TimeService, TheDialogAnswersWhileTheServiceReadsAgain)
{
    TestSntpServer server({SntpAnswer().Offset(2000), SntpAnswer().Offset(2000).Delay(2800)});
    ASSERT_TRUE(Install(server.Address()));
    TempLogFile log;
    SeedNumber("maxAdjust", 1);
    SeedNumber("attempts", 0);
    SeedNumber("logOpts", 1);
    SeedText("logPath", log.Path());
    BoxAnswerer question("Big Change", IDYES, kAnyHoravex);
    HoravexProcess horavex("", folder_ + "\\horavex.exe", true);
    HWND dialog = WaitForDialogWith(horavex.Id(), IDC_MAIN_STARTUP, kWait);
    ASSERT_NE(dialog, (HWND)NULL);
    ASSERT_TRUE(question.WaitForCount(1, kWait));
    ASSERT_TRUE(WaitUntil([&] { return server.Requests() == 2; }, 4000));
    DWORD start = GetTickCount();
    DWORD_PTR result = 0;
    EXPECT_TRUE(SendMessageTimeoutA(dialog, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 500, &result));
    EXPECT_LT(GetTickCount() - start, 500u);
    EXPECT_EQ(ControlText(dialog, IDC_MAIN_GETTIME), "Stop!");
    Click(dialog, IDC_MAIN_GETTIME);
    EXPECT_TRUE(WaitForControlText(dialog, IDC_MAIN_STATUS, "Stopped", 1000));
    EXPECT_EQ(ControlText(dialog, IDC_MAIN_GETTIME), "&Get time");
    ClickPosted(dialog, IDC_MAIN_EXIT);
    EXPECT_TRUE(horavex.WaitForExit(kWait));
    EXPECT_FALSE(log.Exists());
}

/* Beyond the machine's limit the service sets nothing and the person is
   asked; Yes and No have it take a new reading and set within the
   answer (Wine then refuses a move of a second or more), Cancel leaves
   the clock alone.  Each answer is a case of its own: a new reading waits
   out the server's two seconds. */
class BigChangeThroughTheService : public TimeService,
                                   public ::testing::WithParamInterface<int> {};

TEST_P(BigChangeThroughTheService, AsksThePersonBeyondTheMachinesLimit)
{
    struct Row {
        int answer;
        int requests;
        const char *label;
        double difference;
    } rows[] = {{IDYES, 2, "failed", 2.0}, {IDNO, 2, "failed", 1.0}, {IDCANCEL, 1, "ignore", 0.0}};
    const Row &row = rows[GetParam()];
    TestSntpServer server(SntpAnswer().Offset(2000));
    ASSERT_TRUE(Install(server.Address()));
    SeedNumber("maxAdjust", 1);
    BoxAnswerer question("Big Change", row.answer, kAnyHoravex);
    BoxAnswerer refusals("horavex Error", IDOK, kAnyHoravex);
    std::vector<std::string> line = ReadWithoutTheRight();
    ASSERT_EQ(line.size(), 11u);
    EXPECT_EQ(line[10], row.label);
    EXPECT_NEAR(atof(line[7].c_str()), row.difference, 0.05);
    EXPECT_EQ(server.Requests(), row.requests);
    ASSERT_EQ(question.Count(), 1);
    EXPECT_NE(question.Text().find("(2 secs) is greater than the specified maximum "
                                   "adjustment (1 secs)"),
              std::string::npos)
        << question.Text();
}

INSTANTIATE_TEST_SUITE_P(YesNoCancel, BigChangeThroughTheService, ::testing::Values(0, 1, 2));

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
    EXPECT_EQ(AskTimeService(&request, &answer, NULL), SERVICE_ANSWERED);
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

/* Users and services may connect to the pipe and exchange messages, and
   nothing more: no instance of their own (no FILE_APPEND_DATA), nobody over
   the network.  Another process that takes the name's instances (8, then
   all it can of 20) stops nothing: the service waits, stays running and
   serves once they are gone. */
TEST_F(TimeService, NobodyElseServesItsPipeOrStopsIt)
{
    TestSntpServer server;
    ASSERT_TRUE(Install(server.Address()));
    HANDLE pipe = OpenServicePipeRaw();
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE) << "opened with the client's rights alone";
    PACL dacl = NULL;
    PSECURITY_DESCRIPTOR descriptor = NULL;
    ASSERT_EQ(GetSecurityInfo(pipe, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, NULL, NULL,
                              &dacl, NULL, &descriptor),
              (DWORD)ERROR_SUCCESS);
    DWORD mask = 0;
    for (const char *user : {"S-1-5-4", "S-1-5-6"}) {
        EXPECT_EQ(AceFor(dacl, user, &mask), ACCESS_ALLOWED_ACE_TYPE) << user;
        EXPECT_EQ(mask, (DWORD)TIME_SERVICE_CLIENT_ACCESS) << user;
        EXPECT_EQ(mask & FILE_CREATE_PIPE_INSTANCE, 0u) << user;
    }
    EXPECT_EQ(AceFor(dacl, "S-1-5-2", &mask), ACCESS_DENIED_ACE_TYPE) << "network logons";
    EXPECT_EQ(AceFor(dacl, "S-1-5-32-544", &mask), ACCESS_ALLOWED_ACE_TYPE);
    LocalFree(descriptor);
    CloseHandle(pipe);

    SeedNumber("userHosts", 1);
    for (int count : {8, 20}) {
        /* Served first: the service holds its waiting instance (after the
           last squatter, once its next try to make one comes round). */
        TestSntpServer before;
        ServiceAnswer served = {};
        ASSERT_TRUE(WaitUntil([&] {
            served = AskFor(before.Address());
            return served.result == SERVICE_SET;
        }, 2000)) << count << " " << served.result;
        Squatter squatter(count);
        EXPECT_GE(squatter.Count(), 1u) << count;
        /* A client on the service's own instance makes it need a new one,
           which it cannot have. */
        std::vector<HANDLE> clients;
        int onTheService = 0;
        for (int i = 0; i < 9 && onTheService == 0; i++) {
            HANDLE client = OpenServicePipeRaw();
            ULONG serverProcess = 0;
            if (client == INVALID_HANDLE_VALUE)
                break;
            clients.push_back(client);
            if (GetNamedPipeServerProcessId(client, &serverProcess)
                && serverProcess != GetCurrentProcessId())
                onTheService++;
        }
        EXPECT_EQ(onTheService, 1) << count;
        EXPECT_FALSE(WaitUntil([] { return !ServiceRunning(); }, 1500)) << count;
        for (HANDLE client : clients)
            CloseHandle(client);
    }
    DWORD start = GetTickCount();
    ServiceAnswer answer;
    EXPECT_TRUE(WaitUntil([&] {
        answer = AskFor(server.Address());
        return answer.result == SERVICE_SET;
    }, 4000)) << answer.result;
    EXPECT_LT(GetTickCount() - start, 4000u);
    EXPECT_TRUE(ServiceRunning());
}

namespace {

/* The Unix path of a Windows one, as Wine maps it. */
std::string UnixPathOf(const std::string &path)
{
    typedef char *(CDECL * ToUnix)(const WCHAR *);
    ToUnix toUnix = (ToUnix)(void *)GetProcAddress(GetModuleHandleA("kernel32.dll"),
                                                   "wine_get_unix_file_name");
    WCHAR wide[MAX_PATH];
    if (toUnix == NULL || MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH) == 0)
        return "";
    char *unixPath = toUnix(wide);
    std::string result = unixPath != NULL ? unixPath : "";
    HeapFree(GetProcessHeap(), 0, unixPath);
    return result;
}

std::string ServiceProgram()
{
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    SC_HANDLE service =
        manager != NULL ? OpenServiceA(manager, TIME_SERVICE_NAME, SERVICE_QUERY_CONFIG) : NULL;
    BYTE buffer[8192];
    DWORD needed = 0;
    std::string program;
    if (service != NULL
        && QueryServiceConfigA(service, (QUERY_SERVICE_CONFIGA *)buffer, sizeof buffer, &needed))
        program = ((QUERY_SERVICE_CONFIGA *)buffer)->lpBinaryPathName;
    if (service != NULL)
        CloseServiceHandle(service);
    if (manager != NULL)
        CloseServiceHandle(manager);
    return program;
}

} // namespace

/* An upgrade without /D goes where the service is, not to the default
   folder.  The folder is protected again at every install; a program
   there that users may still write is not registered (Wine shows a file's
   security as its Unix permissions). */
TEST_F(TimeService, AnUpgradeGoesWhereTheServiceIs)
{
    const std::string elsewhere = "C:\\Horavex elsewhere";
    ASSERT_EQ(RunAndWait(SetupPath(), "/S /HOST=a.invalid /D=" + elsewhere), 0u);
    folder_ = ReadRegString(HKEY_LOCAL_MACHINE, kUninstallKey, "InstallLocation");
    ASSERT_EQ(folder_, elsewhere);
    ASSERT_EQ(RunAndWait(SetupPath(), "/S"), 0u);
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, kUninstallKey, "InstallLocation"), elsewhere);
    EXPECT_EQ(ServiceProgram(), "\"" + elsewhere + "\\horavexsvc.exe\"");
    char programFiles[MAX_PATH] = "";
    ExpandEnvironmentStringsA("%ProgramFiles%\\Horavex", programFiles, sizeof programFiles);
    EXPECT_EQ(GetFileAttributesA(programFiles), INVALID_FILE_ATTRIBUTES) << programFiles;

    std::string program = elsewhere + "\\horavexsvc.exe";
    std::string unixProgram = UnixPathOf(program);
    ASSERT_FALSE(unixProgram.empty());
    std::string marker = elsewhere + "\\writable";
    ASSERT_TRUE(StartHostProgram("/bin/sh -c \"chmod o+w '" + unixProgram + "' && touch '" +
                                 UnixPathOf(marker) + "'\""));
    ASSERT_TRUE(WaitUntil([&] {
        return GetFileAttributesA(marker.c_str()) != INVALID_FILE_ATTRIBUTES;
    }, 3000));
    EXPECT_EQ(RunAndWait(program, "install"), (DWORD)ERROR_ACCESS_DENIED);
    DeleteFileA(marker.c_str());
}

/* The machine asks for several servers: the service asks them, sets the
   clock from those that agree and names the one it left out, as the log
   of a program without the right shows. */
TEST_F(TimeService, AsksSeveralServersWhenTheMachineSaysSo)
{
    std::vector<std::unique_ptr<TestSntpServer>> servers;
    for (int i = 1; i <= 4; i++)
        servers.push_back(std::make_unique<TestSntpServer>(
            std::vector<SntpAnswer>{SntpAnswer().Offset(i == 4 ? 30000 : 0)},
            ("127.210.8." + std::to_string(i)).c_str()));
    ASSERT_TRUE(Install("four.sntp.horavex.test"));
    SeedNumber("sources", 4);
    std::vector<std::string> line = ReadWithoutTheRight();
    ASSERT_EQ(line.size(), 15u);
    EXPECT_EQ(line[10], "reset");
    EXPECT_NEAR(atof(line[7].c_str()), 0.0, 0.005);
    EXPECT_EQ(line[14].substr(0, 13), "127.210.8.4 +") << line[14];
    EXPECT_EQ(line[14].substr(line[14].size() - 8), "left out");
    for (const auto &server : servers)
        EXPECT_EQ(server->Requests(), 1);
}
