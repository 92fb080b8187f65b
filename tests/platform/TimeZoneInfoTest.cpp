// Zone information from the TZ database, in the agent's sign convention.
#include "platform/TimeZoneInfo.h"
#include "TestSupport.h"

#include <QDateTime>

#include <ctime>

#include <gtest/gtest.h>

namespace
{

qint64 Utc(int year, int month, int day)
{
    return QDateTime(QDate(year, month, day), QTime(12, 0), Qt::UTC).toMSecsSinceEpoch();
}

TEST(TimeZoneInfo, BiasDaylightBiasAndState)
{
    const struct {
        const char* zone;
        qint64 at;
        qint32 state;
        qint32 bias, daylightBias;
    } cases[] = {
        {"America/New_York", Utc(2026, 7, 1), 2, 300, -60},
        {"America/New_York", Utc(2026, 1, 15), 1, 300, -60},
        {"Australia/Sydney", Utc(2026, 7, 1), 1, -600, -60},
        {"Australia/Sydney", Utc(2026, 1, 15), 2, -600, -60},
        {"Asia/Kolkata", Utc(2026, 7, 1), 0, -330, 0},
        {"UTC", Utc(2026, 7, 1), 0, 0, 0},
        {"Europe/Berlin", Utc(2026, 12, 4), 1, -60, -60},
    };
    for (const auto& c : cases) {
        testsupport::ScopedEnv tz("TZ", c.zone);
        platform::TimeZoneInformation info;
        EXPECT_EQ(platform::GetTimeZoneInformationAt(c.at, info), c.state) << c.zone;
        EXPECT_EQ(info.Bias, c.bias) << c.zone;
        EXPECT_EQ(info.DaylightBias, c.daylightBias) << c.zone;
    }
    tzset();
}

} // namespace
