#include <gtest/gtest.h>

#include <optional>

#include "core/band_match.h"
#include "switching_fixture.h"

using namespace kelvane;
using namespace kelvane::testing;

namespace {

// Band b sends to antenna (9 - b), whose default byte is distinct for b >= 2.
void AssignReversed(Station& s) {
    for (int b = 0; b < kBandCount; ++b) s.view.bandSelector[b] = 9 - b;
    s.view.ReadControls();
}

}  // namespace

TEST(Defaults, AreTheFirstStartTables) {
    Station s;
    const char* names[] = {"160m", "80m", "40m", "30m", "20m", "17m", "15m", "12m", "10m", "6m"};
    const std::int32_t low[] = {1750, 3500, 7000, 10100, 14000, 18068, 21000, 24890, 28000, 50000};
    const std::int32_t high[] = {2000, 4000, 7200, 10500, 14350, 18168, 21450, 24990, 29700, 54000};
    const std::uint32_t values[] = {1, 2, 4, 8, 16, 32, 64, 128, 0, 0};
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(s.bands.name[i], names[i]);
        EXPECT_EQ(s.bands.low[i], low[i]);
        EXPECT_EQ(s.bands.high[i], high[i]);
        EXPECT_EQ(s.core.m_tables.m_antValue[i], values[i]);
        EXPECT_EQ(s.core.m_tables.m_antName[i], "Ant #" + std::to_string(i + 1));
        EXPECT_EQ(s.core.m_tables.m_bandAntenna[i], 0);
    }
    EXPECT_EQ(s.core.m_tables.m_portAddr, 0x278);
    EXPECT_TRUE(s.core.m_bAuto);
    EXPECT_EQ(s.core.m_freqKHz, 0.0);
}

TEST(MatchFrequency, SwitchesOnlyInsideInclusiveBandEdges) {
    const struct {
        const char* text;
        int antenna;
    } cases[] = {
        {"7200.000", 7},  {"7000", 7},      {"14000 kHz", 5}, {"  1750", 9}, {"54000.0", 0},
        {"18068.5", 4},   {"7200.001", -1}, {"6999.999", -1}, {"", -1},      {"abc", -1},
        {"kHz 7100", -1}, {"0", -1},        {"-7100", -1},    {"7,100", -1},
    };
    for (const auto& c : cases) {
        Station s;
        AssignReversed(s);
        s.view.nowSelection = -1;
        s.Type(c.text);
        if (c.antenna < 0) {
            EXPECT_TRUE(RecordedWrites().empty()) << c.text;
            EXPECT_EQ(s.view.nowSelection, -1) << c.text;
        } else {
            ASSERT_EQ(RecordedWrites().size(), 1u) << c.text;
            EXPECT_EQ(RecordedWrites()[0], PortWrite(0x278, s.core.m_tables.m_antValue[c.antenna] & 0xFF)) << c.text;
            EXPECT_EQ(s.view.nowSelection, c.antenna) << c.text;
        }
    }
}

TEST(MatchFrequency, NoMatchLeavesPortAndDisplayAsTheyWere) {
    Station s;
    AssignReversed(s);
    s.Type("7100");
    s.Type("7200.001");
    ASSERT_EQ(RecordedWrites().size(), 1u);
    EXPECT_EQ(s.view.nowSelection, 7);
    EXPECT_DOUBLE_EQ(s.core.m_freqKHz, 7200.001);
}

TEST(MatchFrequency, OverlapWritesEveryMatchAndTheHigherBandWins) {
    Station s;
    AssignReversed(s);
    s.bands.low[3] = 7000;  // band 3 now covers 7000..10500, overlapping band 2
    s.Type("7100");
    ASSERT_EQ(RecordedWrites().size(), 2u);
    EXPECT_EQ(RecordedWrites()[0].second, 128);  // band 2 -> antenna 7
    EXPECT_EQ(RecordedWrites()[1].second, 64);   // band 3 -> antenna 6
    EXPECT_EQ(s.view.nowSelection, 6);
}

TEST(MatchFrequency, RepeatedFrequencyWritesEveryTime) {
    Station s;
    s.Type("14200.000");
    s.Type("14200.000");
    EXPECT_EQ(RecordedWrites().size(), 2u);
}

TEST(MatchFrequency, TypingDigitByDigitPassesThroughTheLowerBand) {
    Station s;
    AssignReversed(s);
    std::vector<int> shown;
    const std::string freq = "18100";
    for (std::size_t n = 1; n <= freq.size(); ++n) {
        s.view.nowSelection = -1;
        s.Type(freq.substr(0, n));
        shown.push_back(s.view.nowSelection);
    }
    // "1810" lies in 160 m, the full "18100" in 17 m.
    EXPECT_EQ(shown, (std::vector<int>{-1, -1, -1, 9, 4}));
    ASSERT_EQ(RecordedWrites().size(), 2u);
    EXPECT_EQ(RecordedWrites()[0].second, 0);   // antenna 9's default byte
    EXPECT_EQ(RecordedWrites()[1].second, 16);  // antenna 4
}

TEST(MatchFrequency, InvertedBandNeverMatches) {
    Station s;
    s.bands.low[4] = 14350;
    s.bands.high[4] = 14000;
    s.Type("14200");
    EXPECT_TRUE(RecordedWrites().empty());
    s.Type("14350");  // equal edges of an inverted band still do not bracket it
    s.Type("14000");
    EXPECT_TRUE(RecordedWrites().empty());
}

TEST(MatchFrequency, AutoNeverGatesATypedFrequency) {
    Station s;
    s.view.autoBox = false;
    s.core.OnAutoClicked();
    EXPECT_FALSE(s.core.m_bAuto);
    EXPECT_TRUE(RecordedWrites().empty());  // the click itself outputs nothing
    s.Type("3600");
    EXPECT_EQ(RecordedWrites().size(), 1u);
}

TEST(ManualChoice, ClearsAutoAndOutputsTheChosenAntenna) {
    Station s;
    s.view.bandSelector[2] = 5;  // changed on screen but not yet read
    s.view.nowSelection = 3;
    s.core.SelectAntennaManually();
    EXPECT_FALSE(s.core.m_bAuto);
    EXPECT_FALSE(s.view.autoBox);
    EXPECT_EQ(s.view.bandSelector[2], 5);  // read before the controls were re-set
    ASSERT_EQ(RecordedWrites().size(), 1u);
    EXPECT_EQ(RecordedWrites()[0], PortWrite(0x278, 8));
    EXPECT_EQ(s.view.nowSelection, 3);
    s.Type("7100");  // typing still switches with Auto off
    EXPECT_EQ(RecordedWrites().size(), 2u);
}

TEST(ManualChoice, EmptySelectionOutputsNothing) {
    Station s;
    s.view.nowSelection = -1;
    s.core.SelectAntennaManually();
    EXPECT_FALSE(s.core.m_bAuto);
    EXPECT_TRUE(RecordedWrites().empty());
}

TEST(BandAssignment, ChangeRerunsTheMatch) {
    const struct {
        const char* freq;
        int changedBand;
        std::vector<std::uint8_t> writes;
    } cases[] = {
        {"7100", 2, {32}},  // frequency in the changed band: the new antenna at once
        {"14100", 2, {1}},  // in another band: that band's antenna again
        {"6000", 2, {}},    // in no band: nothing
    };
    for (const auto& c : cases) {
        Station s;
        s.view.freqText = c.freq;
        s.view.bandSelector[c.changedBand] = 5;
        s.core.OnBandAntennaChanged();
        std::vector<std::uint8_t> bytes;
        for (const auto& w : RecordedWrites()) bytes.push_back(w.second);
        EXPECT_EQ(bytes, c.writes) << c.freq;
    }
}

TEST(BandAssignment, IndexesOutsideTheTableOutputNothing) {
    for (std::int32_t bad : {-1, 10, 2147483647, -2147483647 - 1}) {
        Station s;
        s.view.bandSelector[4] = bad;
        s.view.nowSelection = 2;
        s.Type("14100");
        EXPECT_TRUE(RecordedWrites().empty()) << bad;
        EXPECT_EQ(s.view.nowSelection, 2) << bad;
    }
}

// A reading through the band rule alone and through the window's core: the same
// antenna, so the Linux edition picks what the Windows program leaves switched.
TEST(BandRule, ReadingPicksWhatTheProgramLeavesSwitched) {
    const struct {
        double hertz;
        bool autoOn;
        std::vector<int> switched;  // antennas written, in order
    } cases[] = {
        {7099999.4, true, {7}},
        {7099999.6, true, {7, 6}},  // "7100.000": band 3 overlaps from 7100
        {7200000.4, true, {7, 6}},
        {7200000.6, true, {6}},  // "7200.000" is in band 2, "7200.001" past it
        {5000000, true, {}},     // the gap above 80 m
        {10450000, true, {6}},   // band 4 holds it too, but its antenna index is damaged
        {500, true, {0}},        // band 9 holds -1..1 kHz, so 0 Hz would match
        {0, true, {}},           // the other gates are the same code: HostFrequencyText
        {7100000, false, {}},    // Auto off
    };
    for (const auto& c : cases) {
        Station s;
        AssignReversed(s);
        s.bands.low[3] = 7100;
        s.bands.low[4] = 10400;
        s.bands.low[9] = -1;
        s.bands.high[9] = 1;
        s.view.bandSelector[4] = kAntennaCount;
        s.view.autoBox = c.autoOn;
        s.view.ReadControls();
        s.core.OnHostFrequency(c.hertz);
        std::vector<PortWrite> writes;
        for (const int a : c.switched)
            writes.emplace_back(0x278, static_cast<std::uint8_t>(s.core.m_tables.m_antValue[a]));
        EXPECT_EQ(RecordedWrites(), writes) << c.hertz;
        const auto last = c.switched.empty() ? std::nullopt : std::optional<int>(c.switched.back());
        EXPECT_EQ(AntennaForReading(s.bands, s.core.m_tables, c.hertz, c.autoOn), last) << c.hertz;
        EXPECT_EQ(s.view.nowSelection, last.value_or(-1)) << c.hertz;
    }
}
