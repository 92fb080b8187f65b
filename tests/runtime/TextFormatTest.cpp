#include "runtime/TextFormat.h"
#include "runtime/DateText.h"

#include "runtime/RuntimeFixtures.h"

#include <gtest/gtest.h>

using namespace rt;

TEST(TextFormat, NumberPatterns)
{
    const struct {
        double value;
        const char* pattern;
        const char* text;
    } cases[] = {{2.25, "0.0##", "2.25"},
                 {2.0, "0.0##", "2.0"},
                 {0, "#.#", "."},
                 {2.5, "#.00#", "2.50"},
                 {2.5005, "#.00#", "2.501"},
                 {0.25, ".###", ".25"},
                 {1.25, ".###", "1.25"},
                 {0, "#", ""},
                 {5, "0#", "05"},
                 {123, "0000", "0123"},
                 {99.96, "0.0", "100.0"},
                 {0.125, "0.00", "0.13"},
                 {2.675, "0.00", "2.68"},
                 {-2.5, "0", "-3"},
                 {-0.004, "0.00", "0.00"},
                 {-0.25, ".###", "-.25"},
                 {7, "x0y", "x7y"},
                 {7, "\"#\"0", "#7"},
                 {7, "\\00", "07"}};
    for (const auto& c : cases)
        EXPECT_EQ(FormatNumber(c.value, c.pattern), c.text)
            << c.value << " with \"" << c.pattern << '"';
    EXPECT_EQ(FormatNumber(1e20, "0"), "100000000000000000000");
}

TEST(TextFormat, DatePatterns)
{
    const Date evening = MakeDate(2026, 12, 4, 20, 55, 6);
    const Date morning = MakeDate(2007, 3, 5, 8, 4, 9);
    const struct {
        Date value;
        const char* pattern;
        const char* text;
    } cases[] = {
        {evening, "mm-dd hh:nn:ss  ", "12-04 20:55:06  "},
        {evening, "mm/dd/yy hh:nn:ss", "12/04/26 20:55:06"},
        {evening, "ddd mmm dd Hh:Nn:Ss yyyy", "Fri Dec 04 20:55:06 2026"},
        {evening, "dddd, mmmm d, yyyy", "Friday, December 4, 2026"},
        {evening, "h:nn:ss AM/PM", "8:55:06 PM"},
        {evening, "h:nn a/p", "8:55 p"},
        {evening, "y w q", "338 6 4"},
        {morning, "m/d/yy", "3/5/07"},
        {morning, "hh:mm:ss", "08:04:09"},
        {morning, "h:m:s", "8:4:9"},
        {morning, "\"at\" h\\h", "at 8h"},
        {MakeDate(2026, 1, 1, 0, 30), "hh:nn AM/PM", "12:30 AM"},
        {MakeDate(2026, 1, 1, 12, 0), "h:nn am/pm", "12:00 pm"},
        {MakeDate(2026, 12, 31, 23, 59, 59, 600), "yyyy-mm-dd hh:nn:ss", "2027-01-01 00:00:00"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatDate(c.value, c.pattern), c.text) << '"' << c.pattern << '"';
}

TEST(TextFormat, ShortDateFollowsTheLocale)
{
    const struct {
        const char* locale;
        const char* pattern;
        DateOrder order;
        const char* text;
    } cases[] = {
        {"C", "m/d/yyyy", DateOrder::MonthFirst, "12/4/2026"},
        {"en_GB", "dd/mm/yyyy", DateOrder::DayFirst, "04/12/2026"},
        {"de_DE", "dd.mm.yyyy", DateOrder::DayFirst, "04.12.2026"},
        {"ja_JP", "yyyy/mm/dd", DateOrder::YearFirst, "2026/12/04"},
        {"sv_SE", "yyyy-mm-dd", DateOrder::YearFirst, "2026-12-04"},
    };
    for (const auto& c : cases) {
        const testsupport::ScopedDateLocale locale(c.locale);
        EXPECT_EQ(ShortDatePattern(), c.pattern) << c.locale;
        EXPECT_EQ(ShortDateOrder(), c.order) << c.locale;
        EXPECT_EQ(ShortDate(MakeDate(2026, 12, 4, 20)), c.text) << c.locale;
    }
}

// The general form, in which the options store writes dates, reads back to
// the second in every locale.
TEST(TextFormat, GeneralDateReadsBackToTheSecond)
{
    const struct {
        Date value;
        const char* inC; // the general form in the C locale
    } cases[] = {{MakeDate(2026, 12, 4, 20, 55, 6), "12/4/2026 20:55:06"},
                 {MakeDate(2026, 1, 2), "1/2/2026"},
                 {MakeDate(1899, 12, 29, 6), "12/29/1899 06:00:00"},
                 {MakeDate(1899, 12, 30, 8, 1, 2), "08:01:02"},
                 {MakeDate(1850, 7, 14, 1, 2, 3), "7/14/1850 01:02:03"},
                 {MakeDate(2026, 3, 4, 5, 6, 7, 600), "3/4/2026 05:06:08"},
                 {0.0, "00:00:00"}};
    for (const char* name : {"C", "en_GB", "de_DE", "ja_JP", "hu_HU", "ko_KR"}) {
        const testsupport::ScopedDateLocale locale(name);
        for (const auto& c : cases) {
            const QString text = GeneralDate(c.value);
            if (QByteArray(name) == "C") {
                EXPECT_EQ(text, c.inC);
            }
            Date back = -1e9;
            ASSERT_TRUE(TextToDate(text, back)) << name << ": " << text.toStdString();
            EXPECT_NEAR(back, c.value, 0.5 / 86400 + 1e-9) << name << ": " << text.toStdString();
            EXPECT_EQ(GeneralDate(back), text) << name;
        }
    }
    const testsupport::ScopedDateLocale locale("C");
    EXPECT_EQ(LongDate(MakeDate(2026, 12, 4, 20)), "Friday, December 4, 2026");
}

TEST(TextFormat, NumberText)
{
    const struct {
        double value;
        const char* text;
    } cases[] = {{2.5, "2.5"},       {10, "10"},         {-0.25, "-0.25"},    {0.1 + 0.2, "0.3"},
                 {0.0001, "0.0001"}, {0.00001, "1E-05"}, {1.5e15, "1.5E+15"}, {-1e-7, "-1E-07"}};
    for (const auto& c : cases)
        EXPECT_EQ(NumberText(c.value), c.text);
    EXPECT_EQ(NumberText(1.0 / 3), "0.333333333333333");
    EXPECT_EQ(NumberText(999999999999999.0), "999999999999999");
    EXPECT_EQ(SingleText(0.1f), "0.1");
    EXPECT_EQ(SingleText(50.0f), "50");
    EXPECT_EQ(SingleText(1.0f / 3), "0.3333333");
}
