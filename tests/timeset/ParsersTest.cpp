// Taking time messages apart: NIST, ACTS, console strings, Daytime, SNTP and
// the four-byte time.
#include "EngineTestSupport.h"
#include "runtime/DateText.h"
#include "timeset/CNISTtimeset.h"
#include "timeset/TimeConversions.h"

#include <gtest/gtest.h>

using namespace timeset;

namespace
{

struct NistCase {
    const char* message;
    bool ok;
    qint32 julian = 0;
    const char* date = "";
    const char* time = "";
    qint16 health = 0;
    float advance = 0;
    float fraction = 0;
    const char* entCmd = "";
};

TEST(NistParser, LinesAndConsoleStrings)
{
    const NistCase cases[] = {
        {"60000 26-12-04 20:55:06 00 0 0 50.0 UTC(NIST) *", true, 60000, "26-12-04", "20:55:06", 0,
         50.0f, 0.5f},
        {"26-12-04 20:55:06 00 0 0 50.0 UTC(NIST) *", true, 0, "26-12-04", "20:55:06", 0, 50.0f,
         0.5f},
        {"60000 26-12-04 20:55:06 50 0 2 0.0 UTC(NIST) #", true, 60000, "26-12-04", "20:55:06", 2,
         0.0f, 0.5f},
        {"S+ 2026-12-04 20:55:06 250", true, 0, "2026-12-04", "20:55:06", 0, 0.0f, 0.25f, "S"},
        {"F+ 26-12-04 20:55:06 5", true, 0, "26-12-04", "20:55:06", 0, 0.0f, 0.005f, "F"},
        {"Server: 26-12-04 20:55:06.125", true, 0, "26-12-04", "20:55:06", 0, 0.0f, 0.125f},
        {"OK-S 26-12-04 20:55:06.5", true, 0, "26-12-04", "20:55:06", 0, 0.0f, 0.5f},
        {"abc 26-12-04 20:55:06", false},
        {"", false},
        {"60000 26-12-04", false},                                // too few fields
        {"60000 26-12-04 20:55:06 00 0 0", false},                // no advance
        {"99999999999 26-12-04 20:55:06 00 0 0 50 UTC *", false}, // Julian day too big
        {"60000 26-12-04 20:55:06 00 0 40000 50 UTC *", false},   // health too big
        {"S+ 2026-12-04 20:55:06", false},                        // no milliseconds
    };
    for (const NistCase& c : cases) {
        CNISTtimeset engine;
        EXPECT_EQ(engine.NIST_parse_string(c.message), c.ok) << c.message;
        if (!c.ok)
            continue;
        EXPECT_EQ(engine.NISTJulianDays(), c.julian) << c.message;
        EXPECT_EQ(engine.NISTDate(), QString::fromLatin1(c.date)) << c.message;
        EXPECT_EQ(engine.NISTTime(), QString::fromLatin1(c.time)) << c.message;
        EXPECT_EQ(engine.NISTServerHealth(), c.health) << c.message;
        EXPECT_FLOAT_EQ(engine.NISTAdvance(), c.advance) << c.message;
        EXPECT_FLOAT_EQ(engine.NISTSecFrac(), c.fraction) << c.message;
        EXPECT_EQ(engine.EntCmd(), QString::fromLatin1(c.entCmd)) << c.message;
    }
}

TEST(NistParser, NistLineFieldsAndDaylightCode)
{
    CNISTtimeset engine;
    ASSERT_TRUE(engine.NIST_parse_string("60000 26-12-04 20:55:06 50 1 0 50.0 UTC(NIST) *"));
    EXPECT_EQ(engine.NISTDST(), 50);
    EXPECT_EQ(engine.NISTLeapSecFlag(), 1);
    EXPECT_EQ(engine.NISTMisc(), "UTC(NIST)");
    EXPECT_TRUE(engine.NIST_check_server());
}

TEST(NistParser, ConsoleCommandDecidesWhereTheFractionComesFrom)
{
    // After an "S+" string the same engine reads a server time with a dot as
    // whole text: the fraction then comes from the milliseconds field only.
    CNISTtimeset engine;
    ASSERT_TRUE(engine.NIST_parse_string("S+ 26-12-04 20:55:06 250"));
    ASSERT_TRUE(engine.NIST_parse_string("Server: 26-12-04 20:55:07.125 750"));
    EXPECT_EQ(engine.NISTTime(), "20:55:07.125");
    EXPECT_FLOAT_EQ(engine.NISTSecFrac(), 0.75f);
}

TEST(NistParser, ServerCheck)
{
    const struct {
        qint16 health;
        float advance;
        bool ok;
    } cases[] = {{0, 1000.0f, true}, {0, 1000.5f, false}, {1, 0.0f, false}, {0, -5.0f, true}};
    for (const auto& c : cases) {
        CNISTtimeset engine;
        engine.setNISTServerHealth(c.health);
        engine.setNISTAdvance(c.advance);
        EXPECT_EQ(engine.NIST_check_server(), c.ok) << c.health << " " << c.advance;
    }
}

TEST(ActsParser, Dut1TakesTheHealthPlace)
{
    const struct {
        const char* message;
        bool ok;
        qint32 julian;
        float advance;
    } cases[] = {
        {"60000 26-12-04 20:55:06 00 0 -0.3 45.0 UTC(NIST) *", true, 60000, 45.0f},
        {"26-12-04 20:55:06 00 0 +.2 45.0 UTC(NIST) *", true, 0, 45.0f},
        {"Server: 26-12-04 20:55:06 00 0 .1 45.0 UTC(NIST)", true, 0, 45.0f},
        {"S+ 26-12-04 20:55:06 250", false, 0, 0},
        {"60000 26-12-04 20:55:06 00 0", false, 0, 0},
    };
    for (const auto& c : cases) {
        CNISTtimeset engine;
        engine.setNISTServerHealth(7);
        engine.setNISTSecFrac(0.9f);
        EXPECT_EQ(engine.ACTS_parse_string(c.message), c.ok) << c.message;
        if (!c.ok)
            continue;
        EXPECT_EQ(engine.NISTJulianDays(), c.julian) << c.message;
        EXPECT_EQ(engine.NISTDate(), "26-12-04");
        EXPECT_EQ(engine.NISTTime(), "20:55:06");
        EXPECT_EQ(engine.NISTServerHealth(), 0);
        EXPECT_FLOAT_EQ(engine.NISTAdvance(), c.advance);
        EXPECT_FLOAT_EQ(engine.NISTSecFrac(), 0.9f) << "ACTS leaves the fraction alone";
    }
}

TEST(DaytimeParser, RebuildsTheDate)
{
    enginetest::ScopedDateLocale locale("en_US");
    const struct {
        const char* message;
        bool ok;
        const char* date;
    } cases[] = {
        {"Fri Dec  4 20:55:06 2026", true, "Dec 4, 2026"},
        {"Fri Dec 14 20:55:06 2026", true, "Dec 14, 2026"},
        {"Fri Dec  4 20:55:06 EST 2026", true, "Dec 4, 2026"},
        {"Fri Dec  4 20:55:06 20261", true, "Dec 4, 2026"},
        {"Fri Dec  4 20:55:06 2026\r\n", true, "Dec 4, 2026"},
        {"Fri Dec  4 20:55:06", false, ""},
        {"Fri Dec  4", false, ""},
        {"Fri Dec 44 20:55:06 2026", false, ""},
    };
    for (const auto& c : cases) {
        CNISTtimeset engine;
        EXPECT_EQ(engine.Daytime_parse_string(c.message), c.ok) << c.message;
        if (!c.ok)
            continue;
        EXPECT_EQ(engine.NISTDate(), QString::fromLatin1(c.date)) << c.message;
        EXPECT_EQ(engine.NISTTime(), "20:55:06") << c.message;
        EXPECT_FLOAT_EQ(engine.NISTSecFrac(), 0.5f);
    }
}

TEST(DaytimeParser, UnknownMonthNameFallsBackToThisMonth)
{
    enginetest::ScopedDateLocale locale("en_US");
    enginetest::ScopedFixedClock fixed(enginetest::UtcMs(2026, 3, 9, 12, 0, 0));
    enginetest::ScopedZone zone("UTC");
    CNISTtimeset engine;
    ASSERT_TRUE(engine.Daytime_parse_string("Fri Xyz  4 20:55:06 2026"));
    EXPECT_EQ(engine.NISTDate(), "4 Mar 2026");
}

TEST(SntpParser, ModeYearAndSize)
{
    enginetest::ScopedDateLocale locale("en_US");
    const rt::Date when = rt::MakeDate(2026, 12, 4, 20, 55, 6);
    const qint64 whenMs = enginetest::UtcMs(2026, 12, 4, 20, 55, 6, 250);
    const struct {
        QByteArray packet;
        bool ok;
        qint16 health;
    } cases[] = {
        {enginetest::SntpPacket(whenMs, 0x24), true, 0}, // version 4, server
        {enginetest::SntpPacket(whenMs, 0x1C), true, 0}, // version 3, server
        {enginetest::SntpPacket(whenMs, 0x23), true, 3}, // client
        {enginetest::SntpPacket(whenMs, 0x21), true, 3}, // symmetric active: unknown
        {enginetest::SntpPacket(enginetest::UtcMs(2000, 12, 31, 23, 59, 59)), false, 0},
        {enginetest::SntpPacket(whenMs).left(47), false, 0},
    };
    for (const auto& c : cases) {
        CNISTtimeset engine;
        EXPECT_EQ(engine.SNTP_parse_packet(c.packet), c.ok) << c.packet.toHex().constData();
        if (!c.ok)
            continue;
        EXPECT_EQ(engine.NISTServerHealth(), c.health);
        EXPECT_FLOAT_EQ(engine.NISTSecFrac(), 0.25f);
        rt::Date parsed = 0;
        ASSERT_TRUE(rt::TextToDate(engine.NISTDate(), parsed)) << engine.NISTDate().toStdString();
        EXPECT_NEAR(parsed, when, 1e-9);
    }
}

TEST(FourByteParser, YearAndSize)
{
    enginetest::ScopedDateLocale locale("en_US");
    const rt::Date when = rt::MakeDate(2026, 12, 4, 20, 55, 6);
    CNISTtimeset engine;
    engine.setNISTSecFrac(0.75f);
    ASSERT_TRUE(engine.Time_parse_bytes(date_to_byte(when)));
    rt::Date parsed = 0;
    ASSERT_TRUE(rt::TextToDate(engine.NISTDate(), parsed));
    EXPECT_NEAR(parsed, when, 1e-9);
    EXPECT_FLOAT_EQ(engine.NISTSecFrac(), 0.75f);

    EXPECT_FALSE(engine.Time_parse_bytes(date_to_byte(when).left(3)));
    EXPECT_FALSE(engine.Time_parse_bytes(date_to_byte(rt::MakeDate(1999, 1, 1))));
}

} // namespace
