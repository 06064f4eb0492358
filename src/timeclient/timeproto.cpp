#include "timeclient/timeproto.h"

#include <limits.h>
#include <string.h>

#include "timeclient/clock.h"

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

int ReceiveTime(TimeSample *sample, SOCKET timeSocket, TimeReplyBytes *gathered,
                DWORD startTick)
{
    if (gathered->length >= REPLY_BYTES)
        gathered->length = 0;
    int received = recv(timeSocket, (char *)gathered->bytes + gathered->length,
                        (int)(REPLY_BYTES - gathered->length), 0);
    if (received <= 0)
        return received;
    gathered->length += (DWORD)received;
    if (gathered->length < REPLY_BYTES)
        return REPLY_INCOMPLETE;
    if (MoreToRead(timeSocket))
        return 0;
    DWORD lag = GetTickCount() - startTick;
    u_long reply;
    memcpy(&reply, gathered->bytes, sizeof reply);
    LONG serverTime;
    if (!CorrectForLag(ServerTimeFromReply(ntohl(reply)), lag, &serverTime))
        return 0;
    sample->lag = lag;
    sample->serverTime = serverTime;
    sample->localTime = CurrentTime();
    return REPLY_BYTES;
}

BOOL NothingToRead(int received)
{
    return received == REPLY_INCOMPLETE
           || (received == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK);
}
