// NTP byte forms, fractions, system-time records and the locale's date order.
#include "EngineTestSupport.h"
#include "runtime/DateText.h"
#include "timeset/TimeConversions.h"

#include <gtest/gtest.h>

using namespace timeset;

namespace
{

QByteArray Bytes(std::initializer_list<int> values)
{
    QByteArray bytes;
    for (int v : values)
        bytes.append(char(v));
    return bytes;
}

TEST(NtpBytes, SecondsSince1900ConvertBothWays)
{
    struct Case {
        QByteArray bytes;
        rt::Date date;
    };
    const Case cases[] = {
        {Bytes({0, 0, 0, 0}), rt::MakeDate(1900, 1, 1)},
        {Bytes({0, 1, 0x51, 0x80}), rt::MakeDate(1900, 1, 2)}, // 86400
        {Bytes({0, 0, 0, 1}), rt::MakeDate(1900, 1, 1, 0, 0, 1)},
        {Bytes({0xEA, 0xDF, 0x13, 0x4A}), rt::MakeDate(2024, 11, 13, 12, 0, 10)},
        {Bytes({0xFF, 0xFF, 0xFF, 0xFF}), rt::MakeDate(2036, 2, 7, 6, 28, 15)},
    };
    for (const Case& c : cases) {
        EXPECT_NEAR(byte_to_date(c.bytes), c.date, 1e-9) << c.bytes.toHex().constData();
        EXPECT_EQ(date_to_byte(c.date), c.bytes) << c.bytes.toHex().constData();
    }
    // Half a second rounds to the nearest whole second; past 2036 the era wraps.
    EXPECT_EQ(date_to_byte(rt::MakeDate(1900, 1, 1, 0, 0, 1, 600)), Bytes({0, 0, 0, 2}));
    EXPECT_EQ(date_to_byte(rt::MakeDate(2036, 2, 7, 6, 28, 16)), Bytes({0, 0, 0, 0}));
    EXPECT_EQ(byte_to_date(Bytes({0, 0})), rt::MakeDate(1900, 1, 1)) << "missing bytes read as 0";
}

TEST(NtpBytes, FractionUsesTheFirstTwoBytes)
{
    EXPECT_FLOAT_EQ(byte_to_frac(Bytes({128, 0, 0xFF, 0xFF})), 0.5f);
    EXPECT_FLOAT_EQ(byte_to_frac(Bytes({0x40, 128, 0, 0})), 0.25f + 1.0f / 512);
}

TEST(Fractions, DigitsAfterTheDecimalPoint)
{
    const std::pair<qint16, float> cases[] = {
        {250, 0.25f}, {2500, 0.25f}, {25000, 0.25f}, {0, 0.0f}, {999, 0.999f}, {1000, 0.1f},
    };
    for (const auto& [digits, fraction] : cases)
        EXPECT_FLOAT_EQ(digits_to_fraction(digits), fraction) << digits;
}

TEST(Fractions, CurrentFractionIsTheClocksMilliseconds)
{
    enginetest::ScopedFixedClock fixed(enginetest::UtcMs(2026, 12, 4, 20, 55, 6, 375));
    EXPECT_FLOAT_EQ(current_fraction(), 0.375f);
    EXPECT_EQ(get_system_time_record().wSecond, 6);
}

TEST(SystemTimeRecord, FromDateAndFraction)
{
    const platform::SystemTime st =
        date_to_system_time(rt::MakeDate(2026, 12, 4, 20, 55, 6), 0.25f);
    // Friday is day 5 of the week.
    EXPECT_EQ((std::vector<int>{st.wYear, st.wMonth, st.wDay, st.wDayOfWeek, st.wHour, st.wMinute,
                                st.wSecond, st.wMilliseconds}),
              (std::vector<int>{2026, 12, 4, 5, 20, 55, 6, 250}));
}

TEST(SystemTimeRecord, ToDateFollowsTheLocalesDayOrder)
{
    // Day and month both below 13, so a swapped order would give another date.
    platform::SystemTime st;
    st.wYear = 2026;
    st.wMonth = 3;
    st.wDay = 4;
    st.wHour = 5;
    st.wMinute = 6;
    st.wSecond = 7;
    for (const char* locale : {"en_US", "de_DE", "en_GB", "C"}) {
        enginetest::ScopedDateLocale scoped(locale);
        EXPECT_NEAR(system_time_to_date(st), rt::MakeDate(2026, 3, 4, 5, 6, 7), 1e-9) << locale;
    }
}

TEST(ShortDate, DetectsTheOrderOfTheLocale)
{
    struct Case {
        const char* locale;
        bool monthFirst, dayFirst, yearFirst;
    };
    const Case cases[] = {
        {"de_DE", false, true, false}, // dd.MM.yy
        {"en_GB", false, true, false}, // dd/MM/yyyy
        {"en_US", true, false, false}, // M/d/yy
        {"sv_SE", false, false, true}, // yyyy-MM-dd
        {"C", true, false, false},     // the classic default M/d/yyyy
    };
    for (const Case& c : cases) {
        const QString format = detect_short_date_of_locale(QString::fromLatin1(c.locale));
        EXPECT_FALSE(format.isEmpty()) << c.locale;
        const ShortDateFlags& flags = ShortDateOrder();
        EXPECT_EQ(flags.monthFirst, c.monthFirst) << c.locale;
        EXPECT_EQ(flags.dayFirst, c.dayFirst) << c.locale;
        EXPECT_EQ(flags.yearFirst, c.yearFirst) << c.locale;
        EXPECT_EQ(flags.format, format);
    }
    detect_short_date(QStringLiteral("USER"));
}

TEST(Text, TrailingNulsAreCut)
{
    const QChar nul(0);
    EXPECT_EQ(trim_trailing_nuls(QString("a") + nul + "b" + nul + nul), QString("a") + nul + "b");
    EXPECT_EQ(trim_trailing_nuls(QString(3, nul)), "");
    EXPECT_EQ(trim_trailing_nuls("plain"), "plain");
}

} // namespace
