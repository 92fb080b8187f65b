#include "runtime/DateTime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

using namespace rt;

namespace
{

struct CivilCase {
    CivilTime civil;
    Date value;
};

// Every field, so that a failure shows the whole time.
std::tuple<int, int, int, int, int, int, int> Fields(const CivilTime& t)
{
    return {t.year, t.month, t.day, t.hour, t.minute, t.second, t.msec};
}

// Known serials of the classic date type, including the negative side where
// the time of day is still counted forwards.
const CivilCase kCivilCases[] = {
    {{1899, 12, 30, 0, 0, 0, 0}, 0.0},       {{1900, 1, 1, 0, 0, 0, 0}, 2.0},
    {{1900, 3, 1, 0, 0, 0, 0}, 61.0}, // no 29 Feb 1900
    {{2000, 2, 29, 12, 0, 0, 0}, 36585.5},   {{2026, 12, 4, 6, 0, 0, 0}, 46360.25},
    {{1899, 12, 29, 6, 0, 0, 0}, -1.25},     {{1899, 12, 30, 18, 0, 0, 0}, 0.75},
    {{1800, 1, 1, 0, 0, 0, 0}, -36522.0},    {{100, 1, 1, 0, 0, 0, 0}, -657434.0},
    {{9999, 12, 31, 0, 0, 0, 0}, 2958465.0},
};

} // namespace

TEST(DateTime, CivilAndValueConvertBothWays)
{
    for (const CivilCase& c : kCivilCases) {
        SCOPED_TRACE(c.value);
        Date value = 12345;
        ASSERT_TRUE(ToDate(c.civil, value));
        EXPECT_DOUBLE_EQ(value, c.value);
        EXPECT_EQ(Fields(FromDate(c.value)), Fields(c.civil));
    }
}

TEST(DateTime, MillisecondsSurviveAndRoundIntoTheNextDay)
{
    const CivilCase cases[] = {
        {{2026, 12, 4, 20, 55, 6, 123}, MakeDate(2026, 12, 4, 20, 55, 6, 123)},
        {{1899, 12, 29, 23, 59, 59, 999}, MakeDate(1899, 12, 29, 23, 59, 59, 999)},
        // Less than half a millisecond before midnight is midnight.
        {{2026, 12, 5, 0, 0, 0, 0}, MakeDate(2026, 12, 5) - 0.0001 / 86400.0},
        // The fraction of a negative value still counts forwards.
        {{1899, 12, 30, 12, 0, 0, 0}, -0.5},
    };
    for (const CivilCase& c : cases)
        EXPECT_EQ(Fields(FromDate(c.value)), Fields(c.civil)) << c.value;
}

TEST(DateTime, ToDateRejectsPartsOutOfRange)
{
    const CivilTime bad[] = {
        {2026, 13, 1, 0, 0, 0, 0},   {2026, 0, 1, 0, 0, 0, 0},  {2025, 2, 29, 0, 0, 0, 0},
        {2100, 2, 29, 0, 0, 0, 0},   {2026, 4, 31, 0, 0, 0, 0}, {2026, 1, 0, 0, 0, 0, 0},
        {2026, 1, 1, 24, 0, 0, 0},   {2026, 1, 1, 0, 60, 0, 0}, {2026, 1, 1, 0, 0, 60, 0},
        {2026, 1, 1, 0, 0, 0, 1000}, {99, 1, 1, 0, 0, 0, 0},    {10000, 1, 1, 0, 0, 0, 0}};
    for (const CivilTime& c : bad) {
        Date value = 42;
        EXPECT_FALSE(ToDate(c, value)) << c.year << "-" << c.month << "-" << c.day << " " << c.hour
                                       << ":" << c.minute << ":" << c.second;
        EXPECT_EQ(value, 42);
    }
}

TEST(DateTime, MakeDateCarriesOverflowingParts)
{
    EXPECT_DOUBLE_EQ(MakeDate(2026, 13, 1), MakeDate(2027, 1, 1));
    EXPECT_DOUBLE_EQ(MakeDate(2026, 0, 1), MakeDate(2025, 12, 1));
    EXPECT_DOUBLE_EQ(MakeDate(2026, 12, 4, 25), MakeDate(2026, 12, 5, 1));
    EXPECT_DOUBLE_EQ(MakeDate(1900, 1, 1, 0, 0, 0, -1), MakeDate(1899, 12, 31, 23, 59, 59, 999));
}

TEST(DateTime, NegativeValuesSplitIntoDayAndPositiveTimeAndWeekdays)
{
    EXPECT_EQ(DatePart(-1.25), -1);
    EXPECT_EQ(TimePart(-1.25), 0.25);
    EXPECT_EQ(DatePart(46360.75), 46360);
    EXPECT_EQ(TimePart(46360.75), 0.75);
    EXPECT_FALSE(std::signbit(DatePart(-0.5)));
    EXPECT_EQ(Weekday(MakeDate(2026, 12, 6, 23, 59)), 1); // Sunday
    EXPECT_EQ(Weekday(0), 7);
    EXPECT_EQ(Weekday(-1.9), 6); // 1899-12-29, a Friday
    EXPECT_EQ(DayOfYear(MakeDate(2024, 12, 31)), 366);
    EXPECT_EQ(DayOfYear(MakeDate(2026, 1, 1, 12)), 1);
}
