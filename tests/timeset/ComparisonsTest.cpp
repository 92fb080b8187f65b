// Server time against the local clock: zone, daylight saving, date range,
// thresholds and the split of the difference.
#include "EngineTestSupport.h"
#include "timeset/CNISTtimeset.h"
#include "timeset/SyncStatus.h"

#include <gtest/gtest.h>

using namespace timeset;
using enginetest::UtcMs;

namespace
{

class Comparison : public ::testing::Test
{
protected:
    void SetUp() override
    {
        options->setServerFormat(0);
        options->setSetMaxThreshold(86400);
        options->setSetMinThreshold(0);
        options->setmsecTimeOffset(0);
        options->setServerTZDiff(QString());
        options->setSetMinThresholdDrift(2);
    }
    // The local clock (the zone is UTC, so local = UTC).
    void ClockAt(qint64 utcMs)
    {
        clock.reset(); // the old one restores the default clock when it goes
        clock = std::make_unique<enginetest::ScopedFixedClock>(utcMs);
    }
    // A NIST line's date and time, taken as parsed, in zone bias minutes.
    CNISTtimeset NistEngine(const char* date, const char* time, float fraction, qint16 bias = 0)
    {
        CNISTtimeset engine;
        engine.setNISTDate(date);
        engine.setNISTTime(time);
        engine.setNISTSecFrac(fraction);
        engine.setSystemTZbias(bias);
        engine.setSystemDSTrtn(1);
        return engine;
    }
    static rt::CivilTime Civil(rt::Date value) { return rt::FromDate(value); }

    enginetest::ScopedZone zone{"UTC"};
    enginetest::ScopedDateLocale locale{"en_US"};
    enginetest::ScopedOptions options;
    std::unique_ptr<enginetest::ScopedFixedClock> clock;
};

TEST_F(Comparison, ZoneAndDaylightSource)
{
    // 12:00 UTC with bias 300 and daylight bias -60: 08:00 with daylight, 07:00 without.
    // The system's daylight state decides when it has one, else the server's
    // code: 50 is on; 0 and 51-99 (the change is N days away) are off.
    const struct {
        qint32 dstReturn;
        qint16 nistDst;
        int hour;
    } cases[] = {{2, 0, 8}, {1, 50, 7}, {0, 50, 8}, {0, 0, 7}, {0, 51, 7}, {0, 99, 7}};
    for (const auto& c : cases) {
        ClockAt(UtcMs(2026, 12, 4, 7, 30, 0));
        CNISTtimeset engine = NistEngine("26-12-04", "12:00:00", 0.5f, 300);
        engine.setSystemTZDSTbias(-60);
        engine.setSystemDSTrtn(c.dstReturn);
        engine.setNISTDST(c.nistDst);
        EXPECT_EQ(engine.NIST_compare_time(), StatusSettingMade);
        EXPECT_EQ(Civil(engine.NISTCorrDateTime()).hour, c.hour) << c.dstReturn << " " << c.nistDst;
        EXPECT_EQ(Civil(engine.NISTCorrDateTime()).minute, 0);
    }
}

TEST_F(Comparison, ErrorsOfTheComparison)
{
    const struct {
        qint64 clockMs;
        const char* date;
        qint16 bias;
        qint16 status;
    } cases[] = {
        {UtcMs(2026, 12, 4, 12, 0, 0), "26-12-04", -1, StatusTimeZoneError},
        {UtcMs(2026, 12, 4, 12, 0, 0), "26-13-04", 0, StatusInvalidDate},
        // A century apart is another date, though the two-digit years agree.
        {UtcMs(2126, 12, 4, 12, 0, 0), "26-12-04", 0, StatusDatesChanged},
    };
    for (const auto& c : cases) {
        ClockAt(c.clockMs);
        CNISTtimeset engine = NistEngine(c.date, "12:00:00", 0.5f, c.bias);
        EXPECT_EQ(engine.NIST_compare_time(), c.status) << c.date << " " << c.bias;
    }

    ClockAt(UtcMs(2026, 12, 4, 12, 0, 0));
    CNISTtimeset text;
    EXPECT_EQ(text.compare_time("soon"), StatusInvalidDate);
    text.setSystemTZbias(-1);
    options->setServerFormat(3);
    EXPECT_EQ(text.compare_time("12/4/2026 12:00:00"), StatusTimeZoneError);
    // Daytime text carries its zone in the options, so the system's is not needed.
    options->setServerFormat(1);
    EXPECT_EQ(text.compare_time("12/4/2026 12:00:00"), StatusSettingMade);
}

TEST_F(Comparison, DatesAcrossMidnight)
{
    ClockAt(UtcMs(2026, 12, 4, 23, 59, 59));
    CNISTtimeset near = NistEngine("26-12-05", "00:00:01", 0.5f);
    EXPECT_EQ(near.NIST_compare_time(), StatusSettingMade);
    EXPECT_TRUE(near.SystemDateChange());
    EXPECT_EQ(near.SettingDifferenceSec(), 2);
}

TEST_F(Comparison, ThresholdsAndTheSplitOfTheDifference)
{
    // The server says 12:00:00 plus its fraction; the local clock is diffMs behind it.
    const struct {
        qint32 maxSec, minMs;
        float serverFrac;
        qint64 diffMs;
        qint16 status;
        qint32 diffSec;
        float diffFrac;
    } cases[] = {
        {600, 0, 0.5f, 601000, StatusAboveMaximum, 601, 0.0f},
        {600, 0, 0.5f, 599000, StatusSettingMade, 599, 0.0f},
        {600, 500, 0.5f, 300, StatusBelowMinimum, 0, 0.3f},
        {600, 500, 0.5f, 600, StatusSettingMade, 1, -0.4f},
        {600, 500, 0.5f, -600, StatusSettingMade, -1, -0.4f},
        {600, 500, 0.5f, -300, StatusBelowMinimum, 0, 0.3f},
        {600, 0, 0.8f, 2300, StatusSettingMade, 2, 0.3f},
        {600, 2000, 0.5f, 1000, StatusBelowMinimum, 0, 0.0f}, // one second is taken as none
        {600, 2000, 0.5f, -1000, StatusBelowMinimum, 0, 0.0f},
    };
    for (const auto& c : cases) {
        options->setSetMaxThreshold(c.maxSec);
        options->setSetMinThreshold(c.minMs);
        const qint64 server = UtcMs(2026, 12, 4, 12, 0, 0, int(c.serverFrac * 1000));
        ClockAt(server - c.diffMs);
        CNISTtimeset engine = NistEngine("26-12-04", "12:00:00", c.serverFrac);
        EXPECT_EQ(engine.NIST_compare_time(), c.status) << c.diffMs;
        EXPECT_EQ(engine.SettingDifferenceSec(), c.diffSec) << c.diffMs;
        EXPECT_NEAR(engine.SettingDifferenceFrac(), c.diffFrac, 1e-6) << c.diffMs;
        const bool set = c.status == StatusSettingMade;
        EXPECT_EQ(engine.NISTCorrDateTime() != 0, set) << c.diffMs;
    }
}

TEST_F(Comparison, OffsetMakesTheLocalClockRunAhead)
{
    // The clock is meant to run 5 s ahead of the server; being exactly that is in sync.
    options->setmsecTimeOffset(5000);
    options->setSetMinThreshold(500);
    ClockAt(UtcMs(2026, 12, 4, 12, 0, 5, 500));
    CNISTtimeset engine = NistEngine("26-12-04", "12:00:00", 0.5f);
    EXPECT_EQ(engine.NIST_compare_time(), StatusBelowMinimum);
    EXPECT_EQ(engine.SettingDifferenceSec(), 0);
}

TEST_F(Comparison, DaytimeZoneFromTheOptions)
{
    options->setServerFormat(1);
    const struct {
        const char* tzDiff;
        int hour, minute;
    } cases[] = {{"-5", 12, 0}, {"", 7, 0}, {"5.5", 1, 30}, {"-5abc", 12, 0}};
    for (const auto& c : cases) {
        options->setServerTZDiff(c.tzDiff);
        ClockAt(UtcMs(2026, 12, 4, 9, 0, 0));
        CNISTtimeset engine;
        EXPECT_EQ(engine.compare_time("Dec 4, 2026 07:00:00"), StatusSettingMade) << c.tzDiff;
        EXPECT_EQ(Civil(engine.NISTCorrDateTime()).hour, c.hour) << c.tzDiff;
        EXPECT_EQ(Civil(engine.NISTCorrDateTime()).minute, c.minute) << c.tzDiff;
    }
    options->setServerTZDiff("9999");
    CNISTtimeset engine;
    EXPECT_EQ(engine.compare_time("Dec 4, 2026 07:00:00"), StatusConversionError);
}

TEST_F(Comparison, WholeSecondsOnlyForTextAndFourByteTimes)
{
    options->setServerFormat(3);
    options->setSetMinThreshold(500);
    ClockAt(UtcMs(2026, 12, 4, 11, 59, 58, 900));
    CNISTtimeset engine;
    engine.setSettingDifferenceFrac(0.125f);
    EXPECT_EQ(engine.compare_time("12/4/2026 12:00:00"), StatusSettingMade);
    EXPECT_EQ(engine.SettingDifferenceSec(), 2);
    EXPECT_FLOAT_EQ(engine.SettingDifferenceFrac(), 0.125f) << "left as it was";
}

} // namespace
