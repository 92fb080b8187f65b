#include "runtime/DateText.h"
#include "runtime/TextFormat.h"

#include "runtime/RuntimeFixtures.h"

#include <gtest/gtest.h>

using namespace rt;

namespace
{

QString Read(const QString& text)
{
    Date value = 0;
    if (!TextToDate(text, value))
        return QStringLiteral("not a date");
    return FormatDate(value, QStringLiteral("yyyy-mm-dd hh:nn:ss"));
}

struct TextCase {
    const char* text;
    const char* read; // "yyyy-mm-dd hh:nn:ss", or "not a date"
};

} // namespace

TEST(DateText, FormsTheAgentMeets)
{
    const testsupport::ScopedDateLocale locale("en_US");
    const TextCase cases[] = {
        {"2026-12-04 20:55:06", "2026-12-04 20:55:06"},
        {"Dec 4, 2026", "2026-12-04 00:00:00"},
        {"4 Dec 2026", "2026-12-04 00:00:00"},
        {"12/4/2026 8:55:06 PM", "2026-12-04 20:55:06"},
        {"04/12/2026", "2026-04-12 00:00:00"},
        {"20:55:06", "1899-12-30 20:55:06"},
        {"Friday, December 4, 2026", "2026-12-04 00:00:00"},
        {"04-Dec-2026", "2026-12-04 00:00:00"},
        {"dec 4,2026", "2026-12-04 00:00:00"},
        {"Sept 4, 2026", "2026-09-04 00:00:00"},
        {"  2026/12/4  ", "2026-12-04 00:00:00"},
        {"2/29/2024", "2024-02-29 00:00:00"},
        {"12:00 AM", "1899-12-30 00:00:00"},
        {"8 PM", "1899-12-30 20:00:00"},
        {"8:05", "1899-12-30 08:05:00"},
        {"20:55:06.6", "1899-12-30 20:55:07"},
    };
    for (const TextCase& c : cases)
        EXPECT_EQ(Read(c.text), c.read) << c.text;
}

// Two-digit years fall in the 100 years centred on the clock's year.
TEST(DateText, TwoDigitYearsFallInTheHundredYearsAroundTheCurrentOne)
{
    const testsupport::ScopedDateLocale locale("en_US");
    const struct {
        int currentYear;
        const char* text;
        const char* read;
    } cases[] = {
        {2026, "1/1/75", "2075-01-01 00:00:00"}, {2026, "1/1/76", "1976-01-01 00:00:00"},
        {2026, "1/1/0", "2000-01-01 00:00:00"},  {2080, "1/1/30", "2030-01-01 00:00:00"},
        {2080, "1/1/29", "2129-01-01 00:00:00"}, {1999, "1/1/48", "2048-01-01 00:00:00"},
        {1999, "1/1/49", "1949-01-01 00:00:00"}, {2026, "Dec 4, 99", "1999-12-04 00:00:00"},
    };
    for (const auto& c : cases) {
        const testsupport::ScopedNow now(MakeDate(c.currentYear, 6, 15, 12));
        EXPECT_EQ(Read(c.text), c.read) << c.currentYear << ": " << c.text;
    }
}

TEST(DateText, NotDates)
{
    const testsupport::ScopedDateLocale locale("en_US");
    QStringList texts = {"2026-13-40",  "2026-02-30", "13/04/2026", "2/29/2025",    "abc",
                         "12.5",        "12/4",       "20",         "26-12-04",     "12/04-2026",
                         "26/12/04",    "20:60",      "13:00 PM",   "Dec 4, 2026x", "Dec 32, 2026",
                         "Foo 4, 2026", "12345/1/1",  "0099-01-01"};
    texts += {"", "2026-12-04 25:00:00", "2026-12-04T20:55:06"};
    for (const QString& text : texts) {
        EXPECT_FALSE(IsDate(text)) << qPrintable(text);
        Date untouched = 42;
        EXPECT_FALSE(TextToDate(text, untouched)) << qPrintable(text);
        EXPECT_EQ(untouched, 42) << qPrintable(text);
    }
}

// The same numeric texts read month-first in en_US (the forms above), day-first
// in en_GB and year-first in ja_JP; ISO dates read the same everywhere, and
// English month names stay readable beside the locale's own.
TEST(DateText, NumericDatesFollowTheLocaleOrder)
{
    const struct {
        const char* locale;
        const char* text;
        const char* read;
    } cases[] = {
        {"en_GB", "04/12/2026", "2026-12-04 00:00:00"},
        {"en_GB", "12/04/2026 20:55:06", "2026-04-12 20:55:06"},
        {"en_GB", "26/12/04", "2004-12-26 00:00:00"},
        {"en_GB", "2026-12-04", "2026-12-04 00:00:00"},
        {"ja_JP", "04/12/2026", "not a date"},
        {"ja_JP", "12/04/26 20:55:06", "2012-04-26 20:55:06"},
        {"ja_JP", "26/12/04", "2026-12-04 00:00:00"},
        {"de_DE", "04.12.2026", "2026-12-04 00:00:00"},
        {"de_DE", "4. Dezember 2026", "2026-12-04 00:00:00"},
        {"de_DE", "4 Dez. 2026", "2026-12-04 00:00:00"},
        {"de_DE", "Dec 4, 2026", "2026-12-04 00:00:00"},
    };
    for (const auto& c : cases) {
        const testsupport::ScopedDateLocale locale(c.locale);
        EXPECT_EQ(Read(c.text), c.read) << c.locale << ": " << c.text;
    }
}

TEST(DateText, DateLiteralsOfDataFiles)
{
    const struct {
        Date value;
        const char* literal;
    } cases[] = {
        {MakeDate(2024, 1, 31, 13, 5), "#2024-01-31 13:05:00#"},
        {MakeDate(2024, 1, 31), "#2024-01-31#"},
        {MakeDate(1899, 12, 30, 13, 5), "#13:05:00#"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DateLiteral(c.value), c.literal);
        Date back = -1;
        ASSERT_TRUE(DateLiteralToDate(c.literal, back)) << c.literal;
        EXPECT_DOUBLE_EQ(back, c.value);
    }
    Date untouched = 42;
    EXPECT_FALSE(DateLiteralToDate("2024-01-31", untouched));
    EXPECT_FALSE(DateLiteralToDate("#2024-13-31#", untouched));
    EXPECT_EQ(untouched, 42);
}
