/* The time service: holds the right to set the clock and serves the
   program's requests on its pipe (docs/service.md).  Started by the
   service manager; "install", "stop" and "remove" are for the installer. */
#include <winsock2.h>
#include <windows.h>
#include <string.h>

#include "service/pipeserver.h"
#include "service/svcinstall.h"
#include "service/timeorder.h"
#include "timeclient/servicepipe.h"

#define STOP_WAIT_HINT_MS 20000

static SERVICE_STATUS_HANDLE statusHandle;
static HANDLE stopEvent;

static void ReportStatus(DWORD state, DWORD exitCode)
{
    SERVICE_STATUS status;
    memset(&status, 0, sizeof status);
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN
                                                         : 0;
    status.dwWin32ExitCode = exitCode;
    status.dwWaitHint = state == SERVICE_STOP_PENDING ? STOP_WAIT_HINT_MS : 0;
    SetServiceStatus(statusHandle, &status);
}

static DWORD WINAPI OnControl(DWORD control, DWORD, LPVOID, LPVOID)
{
    if (control != SERVICE_CONTROL_STOP && control != SERVICE_CONTROL_SHUTDOWN)
        return control == SERVICE_CONTROL_INTERROGATE ? NO_ERROR : ERROR_CALL_NOT_IMPLEMENTED;
    ReportStatus(SERVICE_STOP_PENDING, 0);
    SetEvent(stopEvent);
    return NO_ERROR;
}

static void OnPipeMade(void)
{
    ReportStatus(SERVICE_RUNNING, 0);
}

static void WINAPI ServiceMain(DWORD, LPSTR *)
{
    statusHandle = RegisterServiceCtrlHandlerExA(TIME_SERVICE_NAME, OnControl, NULL);
    if (statusHandle == NULL)
        return;
    ReportStatus(SERVICE_START_PENDING, 0);
    WSADATA data;
    DWORD error = ERROR_NOT_ENOUGH_MEMORY;
    stopEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    int stillServed = 0;
    if (stopEvent != NULL && StartTimeOrders()) {
        error = WSAStartup(MAKEWORD(2, 2), &data);
        if (error == 0) {
            error = ServeTimePipe(stopEvent, OnPipeMade, &stillServed);
            /* A client thread that has not ended still uses them: the
               process's end frees them instead. */
            if (stillServed == 0)
                WSACleanup();
        }
        if (stillServed == 0)
            EndTimeOrders();
    }
    ReportStatus(SERVICE_STOPPED, error);
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int)
{
    if (strcmp(commandLine, "install") == 0)
        return (int)InstallTimeService();
    if (strcmp(commandLine, "stop") == 0)
        return (int)StopTimeService();
    if (strcmp(commandLine, "remove") == 0)
        return (int)RemoveTimeService();
    char name[] = TIME_SERVICE_NAME;
    SERVICE_TABLE_ENTRYA table[] = {{name, ServiceMain}, {NULL, NULL}};
    return StartServiceCtrlDispatcherA(table) ? 0 : (int)GetLastError();
}
