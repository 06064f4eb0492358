#ifndef HORAVEX_TEST_REQUESTOWNER_H
#define HORAVEX_TEST_REQUESTOWNER_H

#include <winsock2.h>
#include <windows.h>

#include <string>
#include <vector>

#include "base/appstate.h"
#include "timeclient/manners.h"
#include "timeclient/request.h"

/* A window that owns requests as the program's windows do: it hands each
   notification to the request engine and keeps what each one meant. */
class RequestOwner {
public:
    RequestOwner();
    ~RequestOwner();
    RequestOwner(const RequestOwner &) = delete;
    RequestOwner &operator=(const RequestOwner &) = delete;

    /* Starts a fetch from host with the record of mainWindow and waits for
       how it ends, after its calibrations; a zero outcome if it did not. */
    RequestOutcome Fetch(const std::string &host, DWORD timeoutMs = 3000);

    HWND window = NULL;
    std::vector<RequestOutcome> outcomes;
    /* The last reading, and the precise clock when it was taken. */
    TimeSample reading;
    LONGLONG readAt = 0;

private:
    void Keep(const RequestOutcome &outcome);
    static LRESULT CALLBACK OwnerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
};

/* The manners the program keeps for the NTP server at an IPv4 address
   (port 123). */
ServerManners *MannersOfNtpServer(const std::string &address);

#endif
