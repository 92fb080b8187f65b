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

class Comparison : public enginetest::EngineFixture
{
protected:
    void SetUp() override { options->setSetMinThreshold(0); }
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
};

// A NIST time of 12:00 UTC against the clock: with bias 300 and daylight bias
// -60 it is 08:00 with daylight, 07:00 without. The system's daylight state
// decides when it has one, else the server's code: 50 is on; 0 and 51-99 (the
// change is N days away) are off. And the errors of the comparison.
TEST_F(Comparison, ZoneDaylightAndErrors)
{
    const qint64 kMorning = UtcMs(2026, 12, 4, 7, 30, 0);
    const qint64 kNoon = UtcMs(2026, 12, 4, 12, 0, 0);
    const struct {
        qint64 clockMs;
        const char* date;
        qint16 bias;
        qint32 dstReturn;
        qint16 nistDst;
        qint16 status;
        int hour; // of the corrected time, when set
    } cases[] = {
        {kMorning, "26-12-04", 300, 2, 0, StatusSettingMade, 8},
        {kMorning, "26-12-04", 300, 1, 50, StatusSettingMade, 7},
        {kMorning, "26-12-04", 300, 0, 50, StatusSettingMade, 8},
        {kMorning, "26-12-04", 300, 0, 0, StatusSettingMade, 7},
        {kMorning, "26-12-04", 300, 0, 51, StatusSettingMade, 7},
        {kMorning, "26-12-04", 300, 0, 99, StatusSettingMade, 7},
        {kNoon, "26-12-04", -1, 1, 0, StatusTimeZoneError, 0},
        {kNoon, "26-13-04", 0, 1, 0, StatusInvalidDate, 0},
        // A century apart is another date, though the two-digit years agree.
        {UtcMs(2126, 12, 4, 12, 0, 0), "26-12-04", 0, 1, 0, StatusDatesChanged, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.date << " " << c.bias << " " << c.dstReturn << " " << c.nistDst);
        ClockAt(c.clockMs);
        CNISTtimeset engine = NistEngine(c.date, "12:00:00", 0.5f, c.bias);
        engine.setSystemTZDSTbias(-60);
        engine.setSystemDSTrtn(c.dstReturn);
        engine.setNISTDST(c.nistDst);
        EXPECT_EQ(engine.NIST_compare_time(), c.status);
        if (c.status == StatusSettingMade) {
            EXPECT_EQ(Civil(engine.NISTCorrDateTime()).hour, c.hour);
            EXPECT_EQ(Civil(engine.NISTCorrDateTime()).minute, 0);
        }
    }
}

// Daytime text and the four-byte time are compared in whole seconds and leave
// the fraction as it was. Daytime text carries its zone in the options (hours,
// read as far as they are a number), so the system's is not needed.
TEST_F(Comparison, TextTimes)
{
    options->setSetMinThreshold(500);
    const qint64 kNine = UtcMs(2026, 12, 4, 9, 0, 0);
    const qint64 kNoon = UtcMs(2026, 12, 4, 11, 59, 58, 900);
    const char* kDec4 = "Dec 4, 2026 07:00:00";
    const char* kNoonText = "12/4/2026 12:00:00";
    const struct {
        qint16 format;
        const char* tzDiff;
        const char* text;
        qint16 bias;
        qint64 clockMs;
        qint16 status;
        int hour = 0, minute = 0; // of the corrected time, and the difference, when set
        qint32 diffSec = 0;
    } cases[] = {
        {1, "-5", kDec4, 0, kNine, StatusSettingMade, 12, 0, 10800},
        {1, "", kDec4, 0, kNine, StatusSettingMade, 7, 0, -7200},
        {1, "5.5", kDec4, 0, kNine, StatusSettingMade, 1, 30, -27000},
        {1, "-5abc", kDec4, 0, kNine, StatusSettingMade, 12, 0, 10800},
        {0, "", "soon", 0, kNoon, StatusInvalidDate},
        {3, "", kNoonText, -1, kNoon, StatusTimeZoneError},
        {1, "", kNoonText, -1, kNoon, StatusSettingMade, 12, 0, 2},
        {3, "", kNoonText, 0, kNoon, StatusSettingMade, 12, 0, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.format << " " << c.tzDiff << " " << c.text << " " << c.bias);
        options->setServerFormat(c.format);
        options->setServerTZDiff(c.tzDiff);
        ClockAt(c.clockMs);
        CNISTtimeset engine;
        engine.setSystemTZbias(c.bias);
        engine.setSettingDifferenceFrac(0.125f);
        EXPECT_EQ(engine.compare_time(c.text), c.status);
        if (c.status == StatusSettingMade) {
            EXPECT_EQ(Civil(engine.NISTCorrDateTime()).hour, c.hour);
            EXPECT_EQ(Civil(engine.NISTCorrDateTime()).minute, c.minute);
            EXPECT_EQ(engine.SettingDifferenceSec(), c.diffSec);
            EXPECT_FLOAT_EQ(engine.SettingDifferenceFrac(), 0.125f) << "left as it was";
        }
    }
}

// The server says 12:00:00 plus its fraction; the local clock is diffMs
// behind it, or offsetMs ahead of it on purpose.
TEST_F(Comparison, ThresholdsOffsetAndTheSplitOfTheDifference)
{
    const struct {
        qint32 maxSec, minMs, offsetMs;
        float serverFrac;
        qint64 diffMs;
        qint16 status;
        qint32 diffSec;
        float diffFrac;
    } cases[] = {
        {600, 0, 0, 0.5f, 601000, StatusAboveMaximum, 601, 0.0f},
        {600, 0, 0, 0.5f, 599000, StatusSettingMade, 599, 0.0f},
        {600, 500, 0, 0.5f, 300, StatusBelowMinimum, 0, 0.3f},
        {600, 500, 0, 0.5f, 600, StatusSettingMade, 1, -0.4f},
        {600, 500, 0, 0.5f, -600, StatusSettingMade, -1, -0.4f},
        {600, 500, 0, 0.5f, -300, StatusBelowMinimum, 0, 0.3f},
        {600, 0, 0, 0.8f, 2300, StatusSettingMade, 2, 0.3f},
        {600, 2000, 0, 0.5f, 1000, StatusBelowMinimum, 0, 0.0f}, // one second is taken as none
        {600, 2000, 0, 0.5f, -1000, StatusBelowMinimum, 0, 0.0f},
        // Meant to run 5 s ahead and exactly that: in sync.
        {600, 500, 5000, 0.5f, -5000, StatusBelowMinimum, 0, 0.0f},
    };
    for (const auto& c : cases) {
        options->setSetMaxThreshold(c.maxSec);
        options->setSetMinThreshold(c.minMs);
        options->setmsecTimeOffset(c.offsetMs);
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

} // namespace
