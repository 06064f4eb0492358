#include "e2e.h"

#include "base/serverlist.h"
#include "dialog.h"
#include "resource.h"
#include "windowhelpers.h"

const char kEmptyHostWarning[] =
    "No NTP servers are currently available.  If you know an NTP server enter the host name "
    "for the server in the hosts box.\r\n\r\nIf you don't know of any NTP servers ask your "
    "local Admin or ISP if they know of a local server that is providing an accurate NTP "
    "(Network Time Protocol) service (tcp/37).\r\n\r\nAlternatively, see " SERVER_LIST_URL
    " for a link to a list of NTP time servers.  The previously default sites "
    "(tick.usno.navy.mil, tock.usno.navy.mil) seem to be closed to external traffic.\r\n";

void EndToEnd::SetUp()
{
    settings_ = std::make_unique<RegistrySnapshot>(HKEY_LOCAL_MACHINE, VENDOR_KEY);
    userSettings_ = std::make_unique<RegistrySnapshot>(HKEY_CURRENT_USER, VENDOR_KEY);
    sounds_ = std::make_unique<SoundsSnapshot>();
    DeleteKeyTree(HKEY_LOCAL_MACHINE, VENDOR_KEY);
    DeleteKeyTree(HKEY_CURRENT_USER, VENDOR_KEY);
}

void EndToEnd::TearDown()
{
    sounds_.reset();
    userSettings_.reset();
    settings_.reset();
}

void EndToEnd::SeedNumber(const char *name, DWORD value)
{
    SetRegDword(HKEY_LOCAL_MACHINE, SETTINGS_KEY, name, value);
}

void EndToEnd::SeedText(const char *name, const std::string &text)
{
    SetRegString(HKEY_LOCAL_MACHINE, SETTINGS_KEY, name, text);
}

void EndToEnd::SeedResident(const std::string &host)
{
    SeedText("host", host);
    SeedNumber("quiet", 1);
    SeedNumber("sysTray", 1);
    SeedNumber("reportOnly", 1);
}

long long EndToEnd::Number(const char *name)
{
    return ReadRegDword(HKEY_LOCAL_MACHINE, SETTINGS_KEY, name);
}

std::string EndToEnd::Text(const char *name)
{
    return ReadRegString(HKEY_LOCAL_MACHINE, SETTINGS_KEY, name);
}

std::vector<std::string> StoredHosts()
{
    std::vector<std::string> hosts;
    for (int i = 0;; i++) {
        std::string name = "host" + std::to_string(i);
        std::string text = ReadRegString(HKEY_LOCAL_MACHINE, HOSTS_KEY, name.c_str());
        if (text == "<missing>")
            break;
        hosts.push_back(text);
    }
    return hosts;
}

void SeedHosts(const std::vector<std::string> &hosts)
{
    for (size_t i = 0; i < hosts.size(); i++)
        SetRegString(HKEY_LOCAL_MACHINE, HOSTS_KEY, ("host" + std::to_string(i)).c_str(),
                     hosts[i]);
}

bool CloseOnceItsDialogShows(HoravexProcess &horavex)
{
    /* A fetch on opening from a name that does not resolve reports it. */
    BoxAnswerer unknownHost("Winsock Error", IDOK, horavex.Id());
    if (WaitForDialogWith(horavex.Id(), IDC_MAIN_STARTUP, 10000) == NULL)
        return false;
    return horavex.Close();
}

DWORD RunAndWait(const std::string &program, const std::string &arguments)
{
    std::string commandLine = "\"" + program + "\" " + arguments;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(program.c_str(), &commandLine[0], NULL, NULL, FALSE, 0, NULL, NULL,
                        &startup, &info))
        return (DWORD)-1;
    WaitForSingleObject(info.hProcess, 30000);
    DWORD code = (DWORD)-1;
    GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return code;
}

std::string SetupPath()
{
    std::string folder = HoravexPath().substr(0, HoravexPath().find_last_of('\\') + 1);
    return folder + (sizeof(void *) == 8 ? "horavex-setup-3.1.4.1-x64.exe"
                                         : "horavex-setup-3.1.4.1.exe");
}
