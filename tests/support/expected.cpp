#include "expected.h"

#include <string.h>

#include "timeclient/timeproto.h"
#include "timeclient/clock.h"

std::string ShownTimeOfDay(uint32_t raw)
{
    TimeSample sample;
    memset(&sample, 0, sizeof sample);
    sample.serverTime = ServerTimeFromReply(raw);
    char text[512];
    FormatTimeOfDay(&sample, text, sizeof text);
    return text;
}

std::string ZoneNameInEffect()
{
    TIME_ZONE_INFORMATION zone;
    DWORD id = GetTimeZoneInformation(&zone);
    char name[64];
    WideCharToMultiByte(CP_ACP, 0,
                        id == TIME_ZONE_ID_DAYLIGHT ? zone.DaylightName : zone.StandardName, -1,
                        name, sizeof name, NULL, NULL);
    return name;
}
