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

using Comparison = enginetest::EngineFixture;

// A NIST line says 12:00:00 plus its fraction on 2026-12-04, and the clock
// stands diffMs behind the local time that should become (at the row's hour),
// or offsetMs ahead of it on purpose. With bias 300 and daylight bias -60 it
// becomes 08:00 with daylight, 07:00 without: the system's daylight state
// decides when it has one, else the server's code: 50 is on; 0 and 51-99 (the
// change is N days away) are off. The thresholds decide, and the difference
// splits into whole seconds and a fraction.
TEST_F(Comparison, ZoneDaylightThresholdsAndTheSplitOfTheDifference)
{
    struct Case {
        const char* date = "26-12-04";
        qint16 bias = 0;
        qint32 dstReturn = 1;
        qint16 nistDst = 0;
        qint32 maxSec = 600, minMs = 0, offsetMs = 0;
        float serverFrac = 0.5f;
        int hour = 12;
        qint64 diffMs = 0;
        qint16 status = StatusSettingMade;
        qint32 diffSec = 0;
        float diffFrac = 0;
    };
    // clang-format off
    const Case cases[] = {
        {.bias = 300, .dstReturn = 2, .hour = 8},
        {.bias = 300, .dstReturn = 1, .nistDst = 50, .hour = 7},
        {.bias = 300, .dstReturn = 0, .nistDst = 50, .hour = 8},
        {.bias = 300, .dstReturn = 0, .hour = 7},
        {.bias = 300, .dstReturn = 0, .nistDst = 51, .hour = 7},
        {.bias = 300, .dstReturn = 0, .nistDst = 99, .hour = 7},
        {.bias = -1, .status = StatusTimeZoneError},
        {.date = "26-13-04", .status = StatusInvalidDate},
        {.diffMs = 601000, .status = StatusAboveMaximum, .diffSec = 601},
        {.diffMs = 599000, .diffSec = 599},
        {.minMs = 500, .diffMs = 300, .status = StatusBelowMinimum, .diffFrac = 0.3f},
        {.minMs = 500, .diffMs = 600, .diffSec = 1, .diffFrac = -0.4f},
        {.minMs = 500, .diffMs = -600, .diffSec = -1, .diffFrac = -0.4f},
        {.minMs = 500, .diffMs = -300, .status = StatusBelowMinimum, .diffFrac = 0.3f},
        {.serverFrac = 0.8f, .diffMs = 2300, .diffSec = 2, .diffFrac = 0.3f},
        // One second is taken as none.
        {.minMs = 2000, .diffMs = 1000, .status = StatusBelowMinimum},
        {.minMs = 2000, .diffMs = -1000, .status = StatusBelowMinimum},
        // Meant to run 5 s ahead and exactly that: in sync.
        {.minMs = 500, .offsetMs = 5000, .diffMs = -5000, .status = StatusBelowMinimum},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.date << " bias " << c.bias << " daylight " << c.dstReturn << "/"
                     << c.nistDst << " behind " << c.diffMs);
        options->setSetMaxThreshold(c.maxSec);
        options->setSetMinThreshold(c.minMs);
        options->setmsecTimeOffset(c.offsetMs);
        ClockAt(UtcMs(2026, 12, 4, c.hour, 0, 0, int(c.serverFrac * 1000)) - c.diffMs);
        CNISTtimeset engine; // as the NIST line's parser leaves it
        engine.setNISTDate(c.date);
        engine.setNISTTime("12:00:00");
        engine.setNISTSecFrac(c.serverFrac);
        engine.setSystemTZbias(c.bias);
        engine.setSystemTZDSTbias(-60);
        engine.setSystemDSTrtn(c.dstReturn);
        engine.setNISTDST(c.nistDst);
        EXPECT_EQ(engine.NIST_compare_time(), c.status);
        EXPECT_EQ(engine.SettingDifferenceSec(), c.diffSec);
        EXPECT_NEAR(engine.SettingDifferenceFrac(), c.diffFrac, 1e-6);
        const bool set = c.status == StatusSettingMade;
        EXPECT_EQ(engine.NISTCorrDateTime() != 0, set);
        if (set) {
            EXPECT_EQ(rt::FromDate(engine.NISTCorrDateTime()).hour, c.hour);
            EXPECT_EQ(rt::FromDate(engine.NISTCorrDateTime()).minute, 0);
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
            EXPECT_EQ(rt::FromDate(engine.NISTCorrDateTime()).hour, c.hour);
            EXPECT_EQ(rt::FromDate(engine.NISTCorrDateTime()).minute, c.minute);
            EXPECT_EQ(engine.SettingDifferenceSec(), c.diffSec);
            EXPECT_FLOAT_EQ(engine.SettingDifferenceFrac(), 0.125f) << "left as it was";
        }
    }
}

} // namespace
