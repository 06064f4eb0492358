#include "service/svcinstall.h"

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

static BOOL Configure(SC_HANDLE service)
{
    char description[] = DESCRIPTION;
    SERVICE_DESCRIPTIONA text = {description};
    return ChangeServiceConfig2A(service, SERVICE_CONFIG_DESCRIPTION, &text)
           && RequireOnlyTheClockRight(service) && ConfigureRecovery(service);
}

/* This program, quoted: a path with blanks is still one program. */
static BOOL ServiceCommand(char *command, size_t size)
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, path, sizeof path);
    return length != 0 && length < sizeof path
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
    char command[MAX_PATH + 2];
    if (!ServiceCommand(command, sizeof command))
        return ERROR_FILENAME_EXCED_RANGE;
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
