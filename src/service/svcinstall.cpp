#include "service/svcinstall.h"

#include <aclapi.h>
#include <sddl.h>
#include <string.h>

#include "base/textfmt.h"
#include "timeclient/servicepipe.h"

#define DISPLAY_NAME "Horavex Time Service"
#define DESCRIPTION                                                                    \
    "Sets the clock for Horavex from the time servers the administrator chose, for " \
    "users who lack the right to change the system time."
#define ACCOUNT "NT AUTHORITY\\LocalService"
#define STOP_WAIT_MS 20000
#define RESTART_DELAY_MS 5000
#define FAILURE_RESET_SECONDS 86400
/* The install folder: the system and administrators may change it, users
   may read and run what is in it, and nothing is inherited from a parent
   that users may write (C:\ lets them make folders and write in them). */
#define FOLDER_SECURITY "D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"
/* Rights that change a file or folder, or what is in it. */
#define WRITING_RIGHTS                                                                  \
    (FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES          \
     | FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL \
     | MAXIMUM_ALLOWED)

/* Restarted when it dies, three times within a day. */
static BOOL ConfigureRecovery(SC_HANDLE service)
{
    SC_ACTION actions[3];
    for (SC_ACTION &action : actions) {
        action.Type = SC_ACTION_RESTART;
        action.Delay = RESTART_DELAY_MS;
    }
    SERVICE_FAILURE_ACTIONSA failure;
    memset(&failure, 0, sizeof failure);
    failure.dwResetPeriod = FAILURE_RESET_SECONDS;
    failure.cActions = 3;
    failure.lpsaActions = actions;
    return ChangeServiceConfig2A(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure);
}

/* Its one right; the list is a multi-string of wide texts, which only the
   wide call takes.  A service manager that keeps no such list (Wine's)
   leaves the account's rights as they are. */
static BOOL RequireOnlyTheClockRight(SC_HANDLE service)
{
    WCHAR privileges[] = L"" SE_SYSTEMTIME_NAME L"\0";
    SERVICE_REQUIRED_PRIVILEGES_INFOW required = {privileges};
    return ChangeServiceConfig2W(service, SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO, &required)
           || GetLastError() == ERROR_INVALID_LEVEL;
}

/* Its own SID in its token, which its pipe's security names; a service
   manager without service SIDs (Wine's) leaves the account's. */
static BOOL GiveItsOwnSid(SC_HANDLE service)
{
    SERVICE_SID_INFO info = {SERVICE_SID_TYPE_UNRESTRICTED};
    return ChangeServiceConfig2A(service, SERVICE_CONFIG_SERVICE_SID_INFO, &info)
           || GetLastError() == ERROR_INVALID_LEVEL || GetLastError() == ERROR_INVALID_PARAMETER;
}

static BOOL Configure(SC_HANDLE service)
{
    char description[] = DESCRIPTION;
    SERVICE_DESCRIPTIONA text = {description};
    return ChangeServiceConfig2A(service, SERVICE_CONFIG_DESCRIPTION, &text)
           && RequireOnlyTheClockRight(service) && GiveItsOwnSid(service)
           && ConfigureRecovery(service);
}

static BOOL IsSid(PSID sid, WELL_KNOWN_SID_TYPE type)
{
    BYTE known[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof known;
    return CreateWellKnownSid(type, NULL, known, &size) && EqualSid(sid, known);
}

/* Who may write where the service's program lies without gaining
   anything: the system, administrators, the installer of the system's
   files, and the administrator who installs (Wine shows the folder's
   owner so). */
static BOOL MayWriteThere(PSID sid, PSID installer)
{
    static const char trustedInstaller[] =
        "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
    PSID trusted = NULL;
    BOOL may = IsSid(sid, WinLocalSystemSid) || IsSid(sid, WinBuiltinAdministratorsSid)
               || (installer != NULL && EqualSid(sid, installer));
    if (!may && ConvertStringSidToSidA(trustedInstaller, &trusted)) {
        may = EqualSid(sid, trusted);
        LocalFree(trusted);
    }
    return may;
}

/* True when an ACE that applies to the object itself lets anybody else
   change it, or what is in it. */
static BOOL OthersMayWrite(const char *path, PSID installer)
{
    PACL dacl = NULL;
    PSECURITY_DESCRIPTOR descriptor = NULL;
    if (GetNamedSecurityInfoA(path, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, NULL, NULL, &dacl,
                              NULL, &descriptor)
        != ERROR_SUCCESS)
        return TRUE;
    /* No DACL at all lets everybody do everything. */
    BOOL writable = dacl == NULL;
    for (DWORD i = 0; !writable && i < dacl->AceCount; i++) {
        ACCESS_ALLOWED_ACE *ace = NULL;
        if (!GetAce(dacl, i, (void **)&ace))
            writable = TRUE;
        else if (ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE
                 && (ace->Header.AceFlags & INHERIT_ONLY_ACE) == 0
                 && (ace->Mask & WRITING_RIGHTS) != 0
                 && !MayWriteThere((PSID)&ace->SidStart, installer))
            writable = TRUE;
    }
    LocalFree(descriptor);
    return writable;
}

/* The user this runs as (the installing administrator). */
static BOOL InstallingUser(BYTE *buffer, DWORD size, PSID *sid)
{
    HANDLE token;
    DWORD needed = 0;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return FALSE;
    BOOL got = GetTokenInformation(token, TokenUser, buffer, size, &needed);
    CloseHandle(token);
    *sid = got ? ((TOKEN_USER *)buffer)->User.Sid : NULL;
    return got;
}

/* The folder of this program gets the protected descriptor; then neither
   it nor the program may be writable by users, who could otherwise put
   their own program there to run with the right to set the clock (and as
   an administrator at the next setup).  0, or the Windows error. */
static DWORD ProtectProgramFolder(const char *program)
{
    char folder[MAX_PATH];
    lstrcpynA(folder, program, sizeof folder);
    char *slash = strrchr(folder, '\\');
    if (slash == NULL)
        return ERROR_BAD_PATHNAME;
    *slash = '\0';
    PSECURITY_DESCRIPTOR descriptor = NULL;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = NULL;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(FOLDER_SECURITY, SDDL_REVISION_1,
                                                              &descriptor, NULL))
        return GetLastError();
    DWORD error = GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)
                      ? SetNamedSecurityInfoA(folder, SE_FILE_OBJECT,
                                              DACL_SECURITY_INFORMATION
                                                  | PROTECTED_DACL_SECURITY_INFORMATION,
                                              NULL, NULL, dacl, NULL)
                      : GetLastError();
    LocalFree(descriptor);
    if (error != ERROR_SUCCESS)
        return error;
    BYTE user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    PSID installer = NULL;
    InstallingUser(user, sizeof user, &installer);
    if (OthersMayWrite(folder, installer) || OthersMayWrite(program, installer))
        return ERROR_ACCESS_DENIED;
    return 0;
}

/* This program, quoted: a path with blanks is still one program. */
static BOOL ServiceCommand(char *path, size_t pathSize, char *command, size_t size)
{
    DWORD length = GetModuleFileNameA(NULL, path, (DWORD)pathSize);
    return length != 0 && length < pathSize
           && FormatText(command, size, "\"%s\"", path) == (int)length + 2;
}

static SC_HANDLE CreateOrUpdate(SC_HANDLE manager, const char *command)
{
    SC_HANDLE service = CreateServiceA(manager, TIME_SERVICE_NAME, DISPLAY_NAME,
                                       SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                       SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, command, NULL,
                                       NULL, NULL, ACCOUNT, NULL);
    if (service != NULL || GetLastError() != ERROR_SERVICE_EXISTS)
        return service;
    service = OpenServiceA(manager, TIME_SERVICE_NAME, SERVICE_ALL_ACCESS);
    if (service != NULL
        && !ChangeServiceConfigA(service, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                 SERVICE_ERROR_NORMAL, command, NULL, NULL, NULL, ACCOUNT, "",
                                 DISPLAY_NAME)) {
        CloseServiceHandle(service);
        return NULL;
    }
    return service;
}

DWORD InstallTimeService(void)
{
    char path[MAX_PATH];
    char command[MAX_PATH + 2];
    if (!ServiceCommand(path, sizeof path, command, sizeof command))
        return ERROR_FILENAME_EXCED_RANGE;
    DWORD protectedError = ProtectProgramFolder(path);
    if (protectedError != 0)
        return protectedError;
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    if (manager == NULL)
        return GetLastError();
    DWORD error = 0;
    SC_HANDLE service = CreateOrUpdate(manager, command);
    if (service == NULL || !Configure(service)
        || (!StartServiceA(service, 0, NULL) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING))
        error = GetLastError();
    if (service != NULL)
        CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return error;
}

static DWORD StopAndWait(SC_HANDLE service)
{
    SERVICE_STATUS status;
    if (!ControlService(service, SERVICE_CONTROL_STOP, &status)) {
        DWORD error = GetLastError();
        return error == ERROR_SERVICE_NOT_ACTIVE ? 0 : error;
    }
    DWORD start = GetTickCount();
    while (status.dwCurrentState != SERVICE_STOPPED && GetTickCount() - start < STOP_WAIT_MS) {
        Sleep(100);
        if (!QueryServiceStatus(service, &status))
            return GetLastError();
    }
    return status.dwCurrentState == SERVICE_STOPPED ? 0 : ERROR_SERVICE_REQUEST_TIMEOUT;
}

/* Opens the service for stopping (and deleting), then does it. */
static DWORD WithService(BOOL remove)
{
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    if (manager == NULL)
        return GetLastError();
    DWORD access = SERVICE_STOP | SERVICE_QUERY_STATUS | (remove ? DELETE : 0);
    SC_HANDLE service = OpenServiceA(manager, TIME_SERVICE_NAME, access);
    DWORD error = service == NULL && GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST
                      ? GetLastError()
                      : 0;
    if (service != NULL) {
        error = StopAndWait(service);
        if (remove && !DeleteService(service) && error == 0)
            error = GetLastError();
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return error;
}

DWORD StopTimeService(void)
{
    return WithService(FALSE);
}

DWORD RemoveTimeService(void)
{
    return WithService(TRUE);
}
