#include "platform/TimeZoneInfo.h"

#include "platform/SystemClock.h"

#include <ctime>

namespace platform
{

namespace
{

struct ZoneSample {
    long offsetSeconds = 0; // local - UTC
    bool daylight = false;
    QString name;
};

ZoneSample SampleAt(time_t when)
{
    tm parts{};
    localtime_r(&when, &parts);
    ZoneSample sample;
    sample.offsetSeconds = parts.tm_gmtoff;
    sample.daylight = parts.tm_isdst > 0;
    sample.name = QString::fromLatin1(parts.tm_zone ? parts.tm_zone : "");
    return sample;
}

} // namespace

qint32 GetTimeZoneInformation(TimeZoneInformation& info)
{
    return GetTimeZoneInformationAt(Clock().NowUtcMs(), info);
}

qint32 GetTimeZoneInformationAt(qint64 utcMs, TimeZoneInformation& info)
{
    // Picks up a changed TZ variable (tests switch zones inside one process).
    tzset();
    const time_t now = time_t(utcMs >= 0 ? utcMs / 1000 : (utcMs - 999) / 1000);
    const ZoneSample current = SampleAt(now);

    // The zone's standard and daylight offsets this year: twice-monthly samples
    // find both sides of any daylight rule, northern or southern.
    tm nowUtc{};
    gmtime_r(&now, &nowUtc);
    ZoneSample standard = current;
    ZoneSample daylight = current;
    bool haveStandard = !current.daylight;
    bool haveDaylight = current.daylight;
    for (int month = 0; month < 12 && !(haveStandard && haveDaylight); ++month) {
        for (int day : {1, 15}) {
            tm probe{};
            probe.tm_year = nowUtc.tm_year;
            probe.tm_mon = month;
            probe.tm_mday = day;
            probe.tm_hour = 12;
            const ZoneSample sample = SampleAt(timegm(&probe));
            if (sample.daylight && !haveDaylight) {
                daylight = sample;
                haveDaylight = true;
            } else if (!sample.daylight && !haveStandard) {
                standard = sample;
                haveStandard = true;
            }
        }
    }

    info = TimeZoneInformation{};
    info.Bias = qint32(-standard.offsetSeconds / 60);
    info.StandardName = standard.name;
    if (!haveDaylight)
        return TIME_ZONE_ID_UNKNOWN;
    info.DaylightBias = qint32(-(daylight.offsetSeconds - standard.offsetSeconds) / 60);
    info.DaylightName = daylight.name;
    return current.daylight ? TIME_ZONE_ID_DAYLIGHT : TIME_ZONE_ID_STANDARD;
}

} // namespace platform
