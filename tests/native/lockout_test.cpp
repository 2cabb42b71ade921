#include "core/lockout.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace kelvane {
namespace {

// Radios are A, B, C... and antennas the digits 1-9. A step gives each
// radio's choices ("17": antenna 1, then 7), which radios may change ('y'),
// and what each then has: an antenna, or '-' and the radio blocking it.
struct Step {
    const char* wants;   // "17|17"
    const char* may;     // "yn"
    const char* expect;  // "1|-A"
};

std::vector<std::string> Split(const std::string& s) {
    std::vector<std::string> parts(1);
    for (const char c : s) {
        if (c == '|')
            parts.emplace_back();
        else
            parts.back().push_back(c);
    }
    return parts;
}

std::string Show(const std::vector<LockoutGrant>& grants) {
    std::string s;
    for (const auto& g : grants) {
        if (!s.empty()) s += '|';
        if (g.antenna) s += static_cast<char>('1' + *g.antenna);
        if (!g.antenna) s += '-';
        if (g.blockedBy) s += static_cast<char>('A' + *g.blockedBy);
    }
    return s;
}

TEST(Lockout, Timelines) {
    const struct {
        const char* name;
        std::vector<Step> steps;
    } cases[] = {
        {"both radios to one band: the second gets the alternate", {{"17|", "yy", "1|-"}, {"17|17", "ny", "1|7"}}},
        {"a tie in one instant goes to the radio listed first", {{"1|1", "yy", "1|-A"}, {"1|1", "yy", "1|-A"}}},
        {"the holder leaves: the antenna goes back only at the waiting radio's poll",
         {{"17|17", "yy", "1|7"}, {"2|17", "yn", "2|7"}, {"2|17", "ny", "2|1"}}},
        {"a holder keeps its antenna against a radio listed before it", {{"|17", "yy", "-|1"}, {"1|17", "yy", "-B|1"}}},
        {"three radios, two antennas",
         {{"12|12|12", "yyy", "1|2|-A"},
          {"3|12|12", "ynn", "3|2|-"},
          {"3|12|12", "nny", "3|2|1"},
          {"3|12|12", "yyy", "3|2|1"}}},
        {"the holder transmits while the other changes band: nothing moves under it",
         {{"1|", "yy", "1|-"},
          {"2|1", "ny", "1|-A"},
          {"2|1", "ny", "1|-A"},
          {"2|1", "yn", "2|-"},
          {"2|1", "ny", "2|1"}}},
        {"a better choice frees while the waiting radio transmits",
         {{"17|17", "yy", "1|7"}, {"3|17", "yn", "3|7"}, {"3|17", "nn", "3|7"}, {"3|17", "ny", "3|1"}}},
        {"a move frees an antenna an earlier radio wants, in the same instant",
         {{"|1|3", "yyy", "-|1|3"}, {"12|31|3", "yyn", "2|1|3"}, {"12|31|", "yyy", "1|3|-"}}},
    };
    for (const auto& c : cases) {
        std::vector<LockoutRadio> radios;
        for (std::size_t n = 0; n < c.steps.size(); ++n) {
            const Step& step = c.steps[n];
            const auto wants = Split(step.wants);
            radios.resize(wants.size());
            for (std::size_t i = 0; i < wants.size(); ++i) {
                radios[i].choices.clear();
                for (const char a : wants[i]) radios[i].choices.push_back(a - '1');
                radios[i].mayChange = step.may[i] == 'y';
            }
            const auto grants = Lockout(radios);
            EXPECT_EQ(Show(grants), step.expect) << c.name << ", step " << n + 1;
            for (std::size_t i = 0; i < grants.size(); ++i) radios[i].holds = grants[i].antenna;
        }
    }
}

// Whatever radios want and whichever may change, no antenna is given twice and
// a radio that may not change keeps what it holds.
TEST(Lockout, NeverTwoRadiosOnOneAntennaAndNothingMovesUnderATransmitter) {
    std::mt19937 random(18);
    std::vector<LockoutRadio> radios(4);
    for (int round = 0; round < 5000; ++round) {
        for (auto& r : radios) {
            if (random() % 3 == 0) {
                r.choices.clear();
                for (unsigned n = random() % 4; n > 0; --n) r.choices.push_back(static_cast<int>(random() % 5));
            }
            r.mayChange = random() % 2 == 0;
        }
        const auto grants = Lockout(radios);
        for (std::size_t i = 0; i < radios.size(); ++i) {
            if (!radios[i].mayChange) {
                ASSERT_EQ(grants[i].antenna, radios[i].holds) << "round " << round;
            }
            for (std::size_t j = i + 1; j < radios.size(); ++j) {
                if (grants[i].antenna) {
                    ASSERT_NE(grants[i].antenna, grants[j].antenna) << "round " << round;
                }
            }
        }
        for (std::size_t i = 0; i < radios.size(); ++i) radios[i].holds = grants[i].antenna;
    }
}

TEST(Lockout, BandChoicesPutTheAssignedAntennaFirstAndDropDamagedOnes) {
    BandAssignment assignment;
    Alternates alternates;
    assignment.m_bandAntenna[2] = 4;
    alternates[2] = {6, 4, 11, -1, 0, 6};
    EXPECT_EQ(BandChoices(assignment, alternates, 2), (std::vector<int>{4, 6, 0}));
    assignment.m_bandAntenna[2] = 99;
    EXPECT_EQ(BandChoices(assignment, alternates, 2), (std::vector<int>{6, 4, 0}));
    BandTable bands;
    EXPECT_EQ(ChoicesForReading(bands, assignment, alternates, bands.low[2] * 1000.0 + 500),
              (std::vector<int>{6, 4, 0}));
}

// An inhibit line may be one only antennas no band lists set.
TEST(Lockout, AntennaOnLineCountsOnlyAntennasABandLists) {
    SwitcherTables tables;  // antenna N sets line N
    for (int band = 0; band < kBandCount; ++band) tables.m_bandAntenna[static_cast<std::size_t>(band)] = band;
    Alternates alternates;
    EXPECT_EQ(AntennaOnLine(tables, alternates, 8), 7);
    tables.m_bandAntenna[7] = 0;
    EXPECT_EQ(AntennaOnLine(tables, alternates, 8), std::nullopt);
    alternates[1] = {7};
    EXPECT_EQ(AntennaOnLine(tables, alternates, 8), 7);
    tables.m_antValue[9] = 0x1FF;  // antenna 10, on band 10, sets every line
    EXPECT_EQ(AntennaOnLine(tables, alternates, 3), 2);
    tables.m_bandAntenna[2] = 0;
    EXPECT_EQ(AntennaOnLine(tables, alternates, 3), 9);
}

}  // namespace
}  // namespace kelvane
