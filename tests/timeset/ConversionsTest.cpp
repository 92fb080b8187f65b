// NTP byte forms, fractions, and the locale's date order.
#include "EngineTestSupport.h"
#include "runtime/DateText.h"
#include "timeset/TimeConversions.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace timeset;

namespace
{

TEST(NtpBytes, SecondsSince1900ConvertBothWays)
{
    const std::pair<QByteArray, rt::Date> cases[] = {
        {QByteArray::fromHex("00000000"), rt::MakeDate(1900, 1, 1)},
        {QByteArray::fromHex("00015180"), rt::MakeDate(1900, 1, 2)}, // 86400
        {QByteArray::fromHex("eadf134a"), rt::MakeDate(2024, 11, 13, 12, 0, 10)},
        {QByteArray::fromHex("ffffffff"), rt::MakeDate(2036, 2, 7, 6, 28, 15)},
    };
    for (const auto& [bytes, date] : cases) {
        EXPECT_NEAR(byte_to_date(bytes), date, 1e-9) << bytes.toHex().constData();
        EXPECT_EQ(date_to_byte(date), bytes) << bytes.toHex().constData();
    }
    // Half a second rounds to the nearest whole second; past 2036 the era wraps.
    EXPECT_EQ(date_to_byte(rt::MakeDate(1900, 1, 1, 0, 0, 1, 600)),
              QByteArray::fromHex("00000002"));
    EXPECT_EQ(date_to_byte(rt::MakeDate(2036, 2, 7, 6, 28, 16)), QByteArray::fromHex("00000000"));
    EXPECT_EQ(byte_to_date(QByteArray::fromHex("0000")), rt::MakeDate(1900, 1, 1))
        << "missing bytes read as 0";
}

TEST(Fractions, DigitsAfterTheDecimalPoint)
{
    const std::pair<qint16, float> cases[] = {
        {250, 0.25f}, {2500, 0.25f}, {25000, 0.25f}, {0, 0.0f}, {999, 0.999f}, {1000, 0.1f},
    };
    for (const auto& [digits, fraction] : cases)
        EXPECT_FLOAT_EQ(digits_to_fraction(digits), fraction) << digits;
}

// The short-date format of each locale; only a format that starts with the
// month and ends with the year puts the month first in the agent's date texts.
TEST(ShortDate, MonthFirstFollowsTheLocale)
{
    const std::tuple<const char*, const char*, bool> cases[] = {{"de_DE", "dd.MM.yy", false},
                                                                {"en_US", "M/d/yy", true},
                                                                {"sv_SE", "yyyy-MM-dd", false},
                                                                {"C", "M/d/yyyy", true}};
    for (const auto& [locale, format, monthFirst] : cases) {
        enginetest::ScopedDateLocale scoped(locale);
        EXPECT_EQ(detect_short_date_of_locale(QString::fromLatin1(locale)), format);
        EXPECT_EQ(ShortDateOrder().monthFirst, monthFirst) << locale;
    }
}

} // namespace
