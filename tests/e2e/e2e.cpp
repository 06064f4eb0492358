#include "e2e.h"

#include "app/serverlist.h"

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
    sounds_ = std::make_unique<SoundsSnapshot>();
    DeleteKeyTree(HKEY_LOCAL_MACHINE, VENDOR_KEY);
}

void EndToEnd::TearDown()
{
    sounds_.reset();
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
