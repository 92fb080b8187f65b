// Taking time messages apart: NIST, ACTS, console strings, Daytime, SNTP, the
// four-byte time and user-supplied layouts.
#include "EngineTestSupport.h"
#include "runtime/DateText.h"
#include "timeset/CNISTtimeset.h"
#include "timeset/CustomFormat.h"
#include "timeset/TimeConversions.h"

#include <gtest/gtest.h>

using namespace timeset;

namespace
{

using Parsers = enginetest::EngineFixture;

TEST_F(Parsers, TextLines)
{
    // An unknown month name falls back to the month of the clock.
    ClockAt(enginetest::UtcMs(2026, 3, 9, 12, 0, 0));
    enum Parser { Nist, Acts, Daytime };
    const struct {
        Parser parser;
        const char* message;
        bool ok;
        const char* date = "";
        float fraction = 0.5f; // ACTS leaves the fraction it found (0.9) alone
        qint16 dst = 0;
        qint16 health = 0;
        float advance = 0;
        const char* entCmd = "";
        const char* time = "20:55:06";
    } cases[] = {
        // clang-format off
        {Nist, "60000 26-12-04 20:55:06 00 0 0 50.0 UTC(NIST) *", true, "26-12-04", 0.5f, 0, 0, 50.0f},
        {Nist, "26-12-04 20:55:06 00 0 0 50.0 UTC(NIST) *", true, "26-12-04", 0.5f, 0, 0, 50.0f},
        {Nist, "60000 26-12-04 20:55:06 50 0 2 0.0 UTC(NIST) #", true, "26-12-04", 0.5f, 50, 2},
        {Nist, "S+ 2026-12-04 20:55:06 250", true, "2026-12-04", 0.25f, 0, 0, 0, "S"},
        {Nist, "F+ 26-12-04 20:55:06 5", true, "26-12-04", 0.005f, 0, 0, 0, "F"},
        {Nist, "Server: 26-12-04 20:55:06.125", true, "26-12-04", 0.125f},
        {Nist, "OK-S 26-12-04 20:55:06.5", true, "26-12-04", 0.5f},
        {Nist, "abc 26-12-04 20:55:06", false},
        {Nist, "60000 26-12-04", false},                                // too few fields
        {Nist, "60000 26-12-04 20:55:06 00 0 0", false},                // no advance
        {Nist, "99999999999 26-12-04 20:55:06 00 0 0 50 UTC *", false}, // Julian day too big
        {Nist, "60000 26-12-04 20:55:06 00 0 40000 50 UTC *", false},   // health too big
        {Nist, "S+ 2026-12-04 20:55:06", false},                        // no milliseconds
        {Acts, "60000 26-12-04 20:55:06 50 0 -0.3 45.0 UTC(NIST) *", true, "26-12-04", 0.9f, 50, 0, 45.0f},
        {Acts, "26-12-04 20:55:06 00 0 +.2 45.0 UTC(NIST) *", true, "26-12-04", 0.9f, 0, 0, 45.0f},
        {Acts, "Server: 26-12-04 20:55:06 00 0 .1 45.0 UTC(NIST)", true, "26-12-04", 0.9f, 0, 0, 45.0f},
        {Acts, "S+ 26-12-04 20:55:06 250", false},
        {Acts, "60000 26-12-04 20:55:06 00 0", false},
        {Daytime, "Fri Dec  4 20:55:06 2026", true, "Dec 4, 2026"},
        {Daytime, "Fri Dec 14 20:55:06 2026", true, "Dec 14, 2026"},
        {Daytime, "Fri Dec  4 20:55:06 EST 2026", true, "Dec 4, 2026"},
        {Daytime, "Fri Dec  4 20:55:06 20261", true, "Dec 4, 2026"},
        {Daytime, "Fri Dec  4 20:55:06 2026\r\n", true, "Dec 4, 2026"},
        {Daytime, "Fri Xyz  4 20:55:06 2026", true, "4 Mar 2026"},
        {Daytime, "Fri Dec  4 20:55:06", false},
        {Daytime, "Fri Dec  4", false},
        {Daytime, "Fri Dec 44 20:55:06 2026", false},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        CNISTtimeset engine;
        engine.setNISTServerHealth(7);
        engine.setNISTSecFrac(0.9f);
        const bool ok = c.parser == Nist   ? engine.NIST_parse_string(c.message)
                        : c.parser == Acts ? engine.ACTS_parse_string(c.message)
                                           : engine.Daytime_parse_string(c.message);
        EXPECT_EQ(ok, c.ok);
        if (!c.ok)
            continue;
        EXPECT_EQ(engine.NISTDate(), QString::fromLatin1(c.date));
        EXPECT_EQ(engine.NISTTime(), QString::fromLatin1(c.time));
        EXPECT_FLOAT_EQ(engine.NISTSecFrac(), c.fraction);
        if (c.parser == Daytime)
            continue;
        EXPECT_EQ(engine.NISTDST(), c.dst);
        EXPECT_EQ(engine.NISTServerHealth(), c.health);
        EXPECT_FLOAT_EQ(engine.NISTAdvance(), c.advance);
        if (c.parser == Nist) {
            EXPECT_EQ(engine.EntCmd(), QString::fromLatin1(c.entCmd));
        }
    }
    // After an "S+" string a server time with a dot is whole text: the
    // fraction then comes from the milliseconds field only.
    CNISTtimeset engine;
    ASSERT_TRUE(engine.NIST_parse_string("S+ 26-12-04 20:55:06 250"));
    ASSERT_TRUE(engine.NIST_parse_string("Server: 26-12-04 20:55:07.125 750"));
    EXPECT_EQ(engine.NISTTime(), "20:55:07.125");
    EXPECT_FLOAT_EQ(engine.NISTSecFrac(), 0.75f);
}

// SNTP packets (mode 4 and 3 servers; a client or an unknown mode reads as
// health 3), whose fraction is read from the first two of its four bytes, and
// the four-byte time, which keeps the fraction it found.
TEST_F(Parsers, BinaryTimes)
{
    const rt::Date when = rt::MakeDate(2026, 12, 4, 20, 55, 6);
    QByteArray sntp = enginetest::SntpPacket(enginetest::UtcMs(2026, 12, 4, 20, 55, 6, 250));
    sntp.replace(45, 3, "\x80\xFF\xFF");
    const auto first = [&](char byte) { return QByteArray(1, byte) + sntp.mid(1); };
    const struct {
        bool isSntp;
        QByteArray bytes;
        bool ok;
        qint16 health = 0;
    } cases[] = {
        {true, sntp, true},
        {true, first(0x23), true, 3},
        {true, first(0x21), true, 3},
        {true, enginetest::SntpPacket(enginetest::UtcMs(2000, 12, 31, 23, 59, 59)), false},
        {true, sntp.left(47), false},
        {false, date_to_byte(when), true},
        {false, date_to_byte(when).left(3), false},
        {false, date_to_byte(rt::MakeDate(1999, 1, 1)), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes.toHex().constData());
        CNISTtimeset engine;
        engine.setNISTSecFrac(0.75f);
        EXPECT_EQ(c.isSntp ? engine.SNTP_parse_packet(c.bytes) : engine.Time_parse_bytes(c.bytes),
                  c.ok);
        if (!c.ok)
            continue;
        EXPECT_FLOAT_EQ(engine.NISTSecFrac(), c.isSntp ? 0.25f + 1.0f / 512 : 0.75f);
        EXPECT_EQ(engine.NISTServerHealth(), c.health);
        rt::Date parsed = 0;
        ASSERT_TRUE(rt::TextToDate(engine.NISTDate(), parsed)) << engine.NISTDate().toStdString();
        EXPECT_NEAR(parsed, when, 1e-9);
    }
}

// Server texts read with user-supplied layouts; without a date the day is today.
TEST_F(Parsers, CustomLayouts)
{
    ClockAt(enginetest::UtcMs(2026, 3, 9, 12, 0, 0));
    const struct {
        const char *server, *format;
        bool ok;
        const char *date, *time;
    } cases[] = {
        {"04/12/2026 20:55:06", "dd/mm/yyyy Hh:Nn:Ss", true, "12/04/2026", "20:55:06 "},
        {"Dec 4 2026 8:55:06 PM", "mmm d yyyy h:N:S AM/PM", true, "Dec 4, 2026", "8:55:06 PM"},
        {"Fri Dec 04 2026 20:55:06", "ddd mmm dd yyyy Hh:Nn:Ss", true, "Dec 04, 2026", "20:55:06 "},
        {"2026-12-04T20:55:06", "yyyy-mm-ddTHh:Nn:Ss", true, "12/04/2026", "20:55:06 "},
        // An escaped h is a literal, not an hour.
        {"04h12h2026 20:55:06", "dd\\hmm\\hyyyy Hh:Nn:Ss", true, "12/04/2026", "20:55:06 "},
        // A bad code stops its own part only; the others are kept.
        {"2026-12-04 20:55:06 x", "yyyy-mm-dd Hh:Nn:Ss Ax", true, "12/04/2026", "20:55:06 "},
        {"December 4 26 20:55:06", "mmmm d yy Hh:Nn:Ss", true, "December 4, 26", "20:55:06 "},
        // Different numbers of parts fail at once.
        {"Dec 4 2026 20:55:06", "mmm d yyyy", false, "", ""},
        // A month that is not one, or an hour of 25, is no date.
        {"Foo 4 2026 20:55:06", "mmm d yyyy Hh:Nn:Ss", false, "", ""},
        {"04/12/2026 25:55:06", "dd/mm/yyyy Hh:Nn:Ss", false, "", ""},
        // "HH" is read but names no field: without an hour the time does not convert.
        {"04/12/2026 20:55:06", "dd/mm/yyyy HH:Nn:Ss", false, "", ""},
        {"20:55", "Hh:Nn", true, "Mar 9, 2026", "20:55 "},
    };
    for (const auto& c : cases) {
        QString date = "stale";
        QString time = "stale";
        const bool ok = Custom_parse_string(c.server, c.format, date, time);
        EXPECT_EQ(ok, c.ok) << c.server << " / " << c.format;
        EXPECT_EQ(date, QString::fromLatin1(c.date)) << c.server << " / " << c.format;
        EXPECT_EQ(time, QString::fromLatin1(c.time)) << c.server << " / " << c.format;
    }
}

} // namespace
