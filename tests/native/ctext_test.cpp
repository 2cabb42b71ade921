#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "core/ctext.h"

using namespace kelvane;

TEST(CommaLocale, IsActiveSoTheConversionTestsMeanSomething) {
    const std::lconv* lc = std::localeconv();
    ASSERT_STREQ(lc->decimal_point, ",") << "the comma-decimal locale is missing; run scripts/setup.sh";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3f", 1.5);
    EXPECT_STREQ(buf, "1,500");  // the C library now formats with a comma; ours must not
}

TEST(CAtof, FollowsTheCRules) {
    const struct {
        const char* text;
        double expected;
    } cases[] = {
        {"7200.000", 7200.0},
        {"  14000 kHz", 14000.0},
        {"\t-3.5e2x", -350.0},
        {"+.5", 0.5},
        {"5.", 5.0},
        {"1e", 1.0},  // exponent without digits is not part of the number
        {"1e+", 1.0},
        {"2E3", 2000.0},
        {"1,5", 1.0},  // the comma is never a decimal point
        {"", 0.0},
        {"   ", 0.0},
        {"kHz 7000", 0.0},
        {".", 0.0},
        {"-", 0.0},
        {"0x10", 0.0},  // no hex floats
        {"inf", 0.0},
        {"nan", 0.0},
        {"-0", 0.0},
        {"1e-400", 0.0},  // underflow
        {"18068.1", 18068.1},
        {"0.000000000000000000001e21", 1.0},
    };
    for (const auto& c : cases) EXPECT_EQ(CAtof(c.text), c.expected) << '"' << c.text << '"';
    EXPECT_TRUE(std::signbit(CAtof("-0")));
    EXPECT_EQ(CAtof("1e400"), HUGE_VAL);
    EXPECT_EQ(CAtof("-1e400"), -HUGE_VAL);
    EXPECT_EQ(CAtof(std::string(5000, '9') + ".5"), HUGE_VAL);
    EXPECT_EQ(CAtof("0." + std::string(5000, '0') + "1"), 0.0);
    EXPECT_EQ(CAtof(std::string(3000, '0') + "14000.5"), 14000.5);
}

TEST(CAtoi, FollowsTheCRulesAndSaturates) {
    const struct {
        const char* text;
        std::int32_t expected;
    } cases[] = {
        {"632", 632},
        {"  -5", -5},
        {"+7x", 7},
        {"", 0},
        {"abc", 0},
        {"3BC", 3},
        {"- 5", 0},
        {"2147483647", 2147483647},
        {"2147483648", 2147483647},
        {"99999999999", 2147483647},
        {"-2147483648", std::numeric_limits<std::int32_t>::min()},
        {"-2147483649", std::numeric_limits<std::int32_t>::min()},
    };
    for (const auto& c : cases) EXPECT_EQ(CAtoi(c.text), c.expected) << '"' << c.text << '"';
}

TEST(CScanHex, FollowsPercentXOrLeavesTheValue) {
    const struct {
        const char* text;
        bool scanned;
        std::int32_t expected;
    } cases[] = {
        {"3BC", true, 956},
        {"3bc", true, 956},
        {" 0x278", true, 0x278},
        {"0X1f", true, 31},
        {"-5", true, -5},
        {"+10", true, 16},
        {"ffffffff", true, -1},
        {"123456789", true, -1},
        {"0x", true, 0},
        {"0xg", true, 0},
        {"12z", true, 0x12},
        // Digits beyond 32 bits saturate before the sign, whatever they would give in 64.
        {"-1FFFFFFFF", true, 1},
        {"-FFFFFFFFFFF7FFF7", true, 1},
        {"xyz", false, 77},
        {"", false, 77},
        {"  ", false, 77},
        {"-", false, 77},
        {"x1", false, 77},
    };
    for (const auto& c : cases) {
        std::int32_t value = 77;
        EXPECT_EQ(CScanHex(c.text, value), c.scanned) << '"' << c.text << '"';
        EXPECT_EQ(value, c.expected) << '"' << c.text << '"';
    }
}

TEST(DialogFields, AcceptOnlyAWholeNumberWithBlanks) {
    const struct {
        const char* text;
        bool ok;
        std::int32_t expected;
    } signedCases[] = {
        {"1750", true, 1750},
        {"  -20 ", true, -20},
        {"+3", true, 3},
        {"-2147483648", true, std::numeric_limits<std::int32_t>::min()},
        {"", false, 0},
        {"  ", false, 0},
        {"12a", false, 0},
        {"1 2", false, 0},
        {"-", false, 0},
        {"2147483648", false, 0},
        {"-2147483649", false, 0},
        {"99999999999", false, 0},
    };
    for (const auto& c : signedCases) {
        std::int32_t v = 0;
        EXPECT_EQ(ParseSignedField(c.text, v), c.ok) << '"' << c.text << '"';
        if (c.ok) {
            EXPECT_EQ(v, c.expected);
        }
    }
    const struct {
        const char* text;
        bool ok;
        std::uint32_t expected;
    } unsignedCases[] = {
        {"255", true, 255}, {" 4294967295", true, 4294967295u}, {"+1", true, 1}, {"-1", false, 0},
        {"-0", false, 0},   {"4294967296", false, 0},           {"x", false, 0}, {"", false, 0},
    };
    for (const auto& c : unsignedCases) {
        std::uint32_t v = 0;
        EXPECT_EQ(ParseUnsignedField(c.text, v), c.ok) << '"' << c.text << '"';
        if (c.ok) {
            EXPECT_EQ(v, c.expected);
        }
    }
}

TEST(Formats, MatchTheCFormats) {
    const struct {
        double kHz;
        const char* text;
    } khz[] = {
        {14000.0, "14000.000"}, {7200.0004, "7200.000"}, {7200.0005000001, "7200.001"},
        {0.0016, "0.002"},      {-0.0, "-0.000"},        {18068.1, "18068.100"},
    };
    for (const auto& c : khz) EXPECT_EQ(FormatKHz(c.kHz), c.text);
    EXPECT_EQ(FormatKHz(1e300).size(), 301u + 4u);
    EXPECT_EQ(FormatInt(632), "632");
    EXPECT_EQ(FormatInt(-5), "-5");
    EXPECT_EQ(FormatInt(std::numeric_limits<std::int32_t>::min()), "-2147483648");
    EXPECT_EQ(FormatUnsigned(4294967295u), "4294967295");
    const struct {
        std::int32_t v;
        const char* text;
    } hex[] = {
        {632, "278"}, {956, "3bc"}, {128, "080"}, {0, "000"}, {0x1234, "1234"}, {-5, "fffffffb"},
    };
    for (const auto& c : hex) EXPECT_EQ(FormatHex03(c.v), c.text);
}
