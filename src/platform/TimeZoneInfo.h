#pragma once
// Time-zone information of the TZ database in the shape the agent expects:
// biases in minutes with UTC = local time + bias (New York: 300, daylight
// bias -60), and a daylight state: unknown when the zone has no daylight rule
// this year, otherwise standard or daylight time at the instant asked about.

#include <QString>
#include <QtGlobal>

namespace platform
{

constexpr qint32 TIME_ZONE_ID_INVALID = -1;
constexpr qint32 TIME_ZONE_ID_UNKNOWN = 0;
constexpr qint32 TIME_ZONE_ID_STANDARD = 1;
constexpr qint32 TIME_ZONE_ID_DAYLIGHT = 2;

struct TimeZoneInformation {
    qint32 Bias = 0;         // minutes; UTC = local + Bias
    qint32 StandardBias = 0; // always 0: the standard offset is in Bias
    qint32 DaylightBias = 0; // minutes added to Bias while daylight saving is on
    QString StandardName;
    QString DaylightName;
};

// The zone of TZ (re-read on every call) at the agent's clock's "now".
qint32 GetTimeZoneInformation(TimeZoneInformation& info);
// The same at a given UTC instant (milliseconds since 1970).
qint32 GetTimeZoneInformationAt(qint64 utcMs, TimeZoneInformation& info);

} // namespace platform
