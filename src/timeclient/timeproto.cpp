#include "timeclient/timeproto.h"

#include <limits.h>
#include <string.h>

#include "base/globals.h"
#include "timeclient/timesample.h"

/* 2^32 - 2208988800: adding it modulo 2^32 moves the 1900 base to 1970. */
#define SECONDS_1900_TO_1970_COMPLEMENT 2085978496UL
/* Half the lag, in whole seconds: milliseconds / 2000. */
#define MS_PER_HALF_LAG_SECOND 2000

LONG ServerTimeFromReply(u_long reply)
{
    return (LONG)(DWORD)(reply + SECONDS_1900_TO_1970_COMPLEMENT);
}

BOOL CorrectForLag(LONG serverTime, DWORD lag, LONG *corrected)
{
    if (serverTime < 0)
        return FALSE;
    long long moved = (long long)serverTime + lag / MS_PER_HALF_LAG_SECOND;
    if (moved > LONG_MAX)
        return FALSE;
    *corrected = (LONG)moved;
    return TRUE;
}

static BOOL MoreToRead(SOCKET timeSocket)
{
    char extra;
    return recv(timeSocket, &extra, 1, MSG_PEEK) > 0;
}

int ReceiveTime(TimeSample *sample, SOCKET timeSocket)
{
    AppState *state = AppStateOf(mainWindow);
    if (state->replyLength >= REPLY_BYTES)
        state->replyLength = 0;
    int received = recv(timeSocket, (char *)state->reply + state->replyLength,
                        (int)(REPLY_BYTES - state->replyLength), 0);
    if (received <= 0)
        return received;
    state->replyLength += (DWORD)received;
    if (state->replyLength < REPLY_BYTES)
        return REPLY_INCOMPLETE;
    if (MoreToRead(timeSocket))
        return 0;
    DWORD lag = GetTickCount() - state->startTick;
    u_long reply;
    memcpy(&reply, state->reply, sizeof reply);
    LONG serverTime;
    if (!CorrectForLag(ServerTimeFromReply(ntohl(reply)), lag, &serverTime))
        return 0;
    state->lag = lag;
    sample->serverTime = serverTime;
    sample->localTime = CurrentTime();
    KeepRequestDetails(sample, state);
    return REPLY_BYTES;
}

