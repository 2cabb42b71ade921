// Damaged settings files and hostile field text: each must load or parse without
// a crash, never index outside a table, and save back by the layout.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "core/ctext.h"
#include "settings/settings_file.h"
#include "switching_fixture.h"

using namespace kelvane;
using namespace kelvane::testing;

namespace {

std::string LE32(std::uint32_t v) {
    std::string out;
    for (int k = 0; k < 4; ++k) out.push_back(static_cast<char>((v >> (8 * k)) & 0xFF));
    return out;
}

std::string DefaultBytes() { return SerializeSettings(SwitcherTables{}, BandTable{}); }

std::string WithBandAntennas(std::uint32_t a) {
    std::string bytes = DefaultBytes();
    for (int b = 0; b < kBandCount; ++b) bytes.replace(4 * b, 4, LE32(a));
    return bytes;
}

std::string WithRanges(std::uint32_t low, std::uint32_t high) {
    std::string bytes = DefaultBytes();
    for (int b = 0; b < kBandCount; ++b) {
        bytes.replace(40 + 4 * b, 4, LE32(low + static_cast<std::uint32_t>(b)));
        bytes.replace(80 + 4 * b, 4, LE32(high));
    }
    return bytes;
}

std::string RandomBytes(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string out(n, '\0');
    for (auto& c : out) c = static_cast<char>(rng() & 0xFF);
    return out;
}

}  // namespace

TEST(HostileSettings, LoadSwitchAndSaveBackByTheLayout) {
    const struct {
        const char* what;
        std::string bytes;
    } files[] = {
        {"empty", ""},
        {"1 byte", "\x07"},
        {"183 bytes", DefaultBytes().substr(0, 164) + std::string(19, '\0')},
        {"184 bytes", DefaultBytes().substr(0, 164) + std::string(20, '\0')},
        {"16 MiB name without a zero", DefaultBytes().substr(0, 164) + std::string(16u << 20, 'N')},
        {"random 300", RandomBytes(300, 1)},
        {"random 4096", RandomBytes(4096, 2)},
        {"indexes -1", WithBandAntennas(0xFFFFFFFFu)},
        {"indexes 10", WithBandAntennas(10)},
        {"indexes 2^31-1", WithBandAntennas(0x7FFFFFFFu)},
        {"inverted ranges", WithRanges(20000, 100)},
        {"overlapping ranges", WithRanges(0, 60000)},
        {"extreme ranges", WithRanges(0x80000000u, 0x7FFFFFFFu)},
    };
    const char* frequencies[] = {"0", "1800", "7100", "14200", "52000", "-1", "1e400", "-1e400", "nan"};
    for (const auto& f : files) {
        Station s;
        ParseSettings(f.bytes, s.core.m_tables, s.bands);
        s.view.bandSelector = s.core.m_tables.m_bandAntenna;  // the selectors show what was loaded
        for (const char* freq : frequencies) s.Type(freq);
        for (const auto& w : RecordedWrites())
            EXPECT_EQ(w.first, static_cast<std::uint16_t>(s.core.m_tables.m_portAddr)) << f.what;

        const std::string saved = SerializeSettings(s.core.m_tables, s.bands);
        std::size_t names = 0;
        for (std::size_t i = kSettingsFixedBytes; i < saved.size(); ++i) names += saved[i] == '\0';
        EXPECT_EQ(names, 20u) << f.what;
        Station again;
        ParseSettings(saved, again.core.m_tables, again.bands);
        EXPECT_EQ(SerializeSettings(again.core.m_tables, again.bands), saved) << f.what;
    }
}

TEST(HostileSettings, OutOfTableIndexesNeverSwitch) {
    for (std::uint32_t bad : {0xFFFFFFFFu, 10u, 0x7FFFFFFFu, 0x80000000u}) {
        Station s;
        ParseSettings(WithBandAntennas(bad), s.core.m_tables, s.bands);
        s.view.bandSelector = s.core.m_tables.m_bandAntenna;
        s.Type("7100");
        EXPECT_TRUE(RecordedWrites().empty()) << bad;
    }
}

TEST(HostileText, FrequencyFieldSwitchesOnlyOnAFrequencyInABand) {
    const struct {
        std::string text;
        std::size_t writes;
    } cases[] = {
        {std::string(5000, '7'), 0},
        {"7" + std::string(5000, '0') + "e-4997", 1},
        {"nan", 0},
        {"NaN", 0},
        {"inf", 0},
        {"-inf", 0},
        {"infinity", 0},
        {"1e400", 0},
        {"-1e400", 0},
        {"-0", 0},
        {"0x1p13", 0},
        {"0x1C20", 0},
        {"   ", 0},
        {"\t\n", 0},
        {"7100" + std::string(10000, ' '), 1},
        {std::string(10000, '0') + "7100", 1},
    };
    for (const auto& c : cases) {
        Station s;
        s.Type(c.text);
        EXPECT_EQ(RecordedWrites().size(), c.writes) << c.text.substr(0, 40);
    }
}

TEST(HostileText, NumberFieldsRejectWhatDoesNotFit) {
    for (const char* text : {"2147483648", "-2147483649", "99999999999", "1e3", "0x10", "12 34", "\xff", "nan"}) {
        std::int32_t s = 5;
        EXPECT_FALSE(ParseSignedField(text, s)) << text;
        EXPECT_EQ(s, 5);
    }
    for (const char* text : {"4294967296", "-1", "99999999999", "+-1", "1.5"}) {
        std::uint32_t u = 5;
        EXPECT_FALSE(ParseUnsignedField(text, u)) << text;
        EXPECT_EQ(u, 5u);
    }
    const std::string digits(10000, '9');
    std::int32_t s = 0;
    EXPECT_FALSE(ParseSignedField(digits, s));
    EXPECT_EQ(CAtoi(digits), 2147483647);
    EXPECT_EQ(CAtoi("-" + digits), -2147483647 - 1);
    std::int32_t hex = 1;
    EXPECT_TRUE(CScanHex(digits, hex));
    EXPECT_EQ(hex, -1);  // saturated at 0xFFFFFFFF
}
