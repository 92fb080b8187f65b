// Zone information from the TZ database, in the agent's sign convention.
#include "platform/TimeZoneInfo.h"
#include "TestSupport.h"
#include "platform/PlatformFixtures.h"
#include "runtime/DateTime.h"

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

// The whole seconds of the clock: .750 is still second 6, never 7.
TEST(SystemClock, NowIsTheLocalTimeOfTheClockInWholeSeconds)
{
    const qint64 utcMs = 1796417706750; // 2026-12-04 20:55:06.750 UTC
    const testsupport::StillClock clock(utcMs);
    const qint64 localMs = utcMs - 750 + platform::SystemClock::LocalOffsetSeconds(utcMs) * 1000;
    EXPECT_NEAR(rt::Now(), 25569.0 + double(localMs) / 86400000.0, 1e-9);
}

// Beside a daylight-saving change the offset at the local time itself counts,
// not the offset at the instant the same digits would name in UTC.
TEST(SystemClock, LocalTimeBesideADaylightChangeTakesItsOwnOffset)
{
    const struct {
        const char* zone;
        qint16 day, hour;
        int utcDay, utcHour;
    } cases[] = {
        {"America/New_York", 8, 3, 8, 7}, // 03:30 EDT, the first half-hour of summer time
        {"Europe/Berlin", 29, 1, 29, 0},  // 01:30 CET, half an hour before summer time
    };
    for (const auto& c : cases) {
        testsupport::ScopedEnv tz("TZ", c.zone);
        tzset();
        testsupport::StillClock clock;
        int error = 0;
        ASSERT_TRUE(clock.SetLocalTime({2026, 3, 0, c.day, c.hour, 30}, error)) << c.zone;
        const QDateTime utc(QDate(2026, 3, c.utcDay), QTime(c.utcHour, 30), Qt::UTC);
        EXPECT_EQ(clock.utcMs, utc.toMSecsSinceEpoch()) << c.zone;
    }
    tzset();
}

} // namespace
