#include "runtime/Numbers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace rt;

TEST(Numbers, ValReadsTheLeadingNumber)
{
    const struct {
        const char* text;
        double value;
    } cases[] = {{"50.0xyz", 50}, {"abc", 0},     {"", 0},      {" -3e2", -300},       {"&H1F", 31},
                 {"&hff", 255},   {"&HFFFF", -1}, {"&O17", 15}, {"&H10000", 65536},    {"&Hx", 0},
                 {".5", 0.5},     {"1.2.3", 1.2}, {"1e+", 1},   {"1D2", 100},          {"+7", 7},
                 {"--5", 0},      {"\t12\n", 12}, {"2,5", 2},   {"1 615 198", 1615198}};
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(Val(c.text), c.value) << '"' << c.text << '"';
    EXPECT_TRUE(std::isinf(Val("1e999")));
}

TEST(Numbers, RoundHalfEven)
{
    const double cases[][2] = {{0.5, 0},    {1.5, 2},    {2.5, 2},   {-0.5, 0},   {-1.5, -2},
                               {2.4999, 2}, {2.5001, 3}, {-2.6, -3}, {1e17, 1e17}};
    for (const auto& c : cases)
        EXPECT_EQ(RoundHalfEven(c[0]), c[1]) << c[0];
}

// The 16- and 32-bit conversions, also as the strict text forms use them:
// half to even, the whole text or nothing, and an overflow fails and leaves
// the target as it was.
TEST(Numbers, IntegerConversionsRoundHalfEvenAndFailOnOverflow)
{
    const struct {
        const char* text;
        bool ok16;
        qint16 v16;
        bool ok32;
        qint32 v32;
    } cases[] = {{"32767.4", true, 32767, true, 32767},
                 {"32767.5", false, 0, true, 32768},
                 {"-32768.5", true, -32768, true, -32768},
                 {"-32768.51", false, 0, true, -32769},
                 {"12.5", true, 12, true, 12},
                 {"13.5", true, 14, true, 14},
                 {"2147483647", false, 0, true, 2147483647},
                 {"2147483647.5", false, 0, false, 0},
                 {"-2147483648.5", false, 0, true, -2147483647 - 1},
                 {"-2147483649", false, 0, false, 0},
                 {" 7 ", true, 7, true, 7},
                 {"1e3", true, 1000, true, 1000},
                 {"&H10", true, 16, true, 16},
                 {"abc", false, 0, false, 0},
                 {"", false, 0, false, 0},
                 {"50x", false, 0, false, 0},
                 {"1 2", false, 0, false, 0}};
    for (const auto& c : cases) {
        qint16 out16 = 77;
        qint32 out32 = 77;
        EXPECT_EQ(TextToInt16(c.text, out16), c.ok16) << c.text;
        EXPECT_EQ(out16, c.ok16 ? c.v16 : 77) << c.text;
        EXPECT_EQ(TextToInt32(c.text, out32), c.ok32) << c.text;
        EXPECT_EQ(out32, c.ok32 ? c.v32 : 77) << c.text;
    }
    qint16 out16 = 77;
    qint32 out32 = 77;
    for (const double value : {std::numeric_limits<double>::quiet_NaN(), HUGE_VAL})
        EXPECT_FALSE(ToInt16(value, out16) || ToInt32(value, out32)) << value;
    double d = 0;
    EXPECT_TRUE(TextToDouble(" -0.25 ", d));
    EXPECT_EQ(d, -0.25);
    EXPECT_FALSE(TextToDouble("2,5", d));
    EXPECT_FALSE(TextToDouble("1e999", d));
}

TEST(Numbers, Booleans)
{
    const struct {
        const char* text;
        bool ok;
        bool value;
    } cases[] = {{"True", true, true}, {"false", true, false}, {" TRUE ", true, true},
                 {"-1", true, true},   {"0", true, false},     {"2.5", true, true},
                 {"0.0", true, false}, {"yes", false, false},  {"", false, false}};
    for (const auto& c : cases) {
        bool out = false;
        EXPECT_EQ(TextToBool(c.text, out), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(out, c.value) << c.text;
        }
    }
    EXPECT_EQ(BoolText(true), "True");
    EXPECT_EQ(BoolText(false), "False");
}
