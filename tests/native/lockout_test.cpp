#include "core/lockout.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>

namespace kelvane {
namespace {

// Radios are A, B, C... and antennas the digits 1-9. A step gives each
// radio's choices ("17": antenna 1, then 7), which radios may change ('y'),
// and what each then has: an antenna, or '-' and the radio blocking it.
TEST(Lockout, Timelines) {
    struct Step {
        const char* wants;   // "17|17"
        const char* may;     // "yn"
        const char* expect;  // "1|-A"
    };
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
            const Step& s = c.steps[n];
            radios.resize(std::strlen(s.may));
            std::istringstream wants(s.wants);
            std::string got, w;
            for (std::size_t i = 0; i < radios.size(); ++i) {
                std::getline(wants, w, '|');
                for (char& a : w) a = static_cast<char>(a - '1');
                radios[i].choices.assign(w.begin(), w.end());
                radios[i].mayChange = s.may[i] == 'y';
            }
            const auto grants = Lockout(radios);
            for (std::size_t i = 0; i < radios.size(); ++i) {
                radios[i].holds = grants[i].antenna;
                if (i > 0) got += '|';
                got += grants[i].antenna ? static_cast<char>('1' + *grants[i].antenna) : '-';
                if (grants[i].blockedBy) got += static_cast<char>('A' + *grants[i].blockedBy);
            }
            EXPECT_EQ(got, s.expect) << c.name << ", step " << n + 1;
        }
    }
}

// Band 3's choices, cumulatively, with every other band on antenna 1: its
// antenna, then its alternates, without damaged ones or repeats. An inhibit
// line clashes with the lowest antenna a band lists that sets it.
TEST(Lockout, BandChoicesAndTheAntennaOnALine) {
    SwitcherTables tables;         // antenna N sets line N
    tables.m_antValue[9] = 0x1FF;  // antenna 10 sets every line
    Alternates alternates;
    const BandTable bands;
    const struct {
        int antenna;  // band 3's, from 0; 99: damaged
        std::vector<int> alternates, choices;
        int line;
        std::optional<int> onLine;
    } cases[] = {
        {4, {6, 4, 11, -1, 0, 6}, {4, 6, 0}, 7, 6},
        {99, {6, 4}, {6, 4}, 5, 4},
        {99, {}, {}, 5, std::nullopt},  // antenna 5 is on no band's list now
        {9, {6}, {9, 6}, 7, 6},
        {4, {9}, {4, 9}, 5, 4},
    };
    for (const auto& c : cases) {
        tables.m_bandAntenna[2] = c.antenna;
        alternates[2] = c.alternates;
        EXPECT_EQ(BandChoices(tables, alternates, 2), c.choices) << c.antenna;
        EXPECT_EQ(ChoicesForReading(bands, tables, alternates, bands.low[2] * 1000.0 + 500),
                  c.choices.empty() ? std::nullopt : std::optional(c.choices))
            << c.antenna;
        EXPECT_EQ(AntennaOnLine(tables, alternates, c.line), c.onLine) << c.antenna << " line " << c.line;
    }
}

}  // namespace
}  // namespace kelvane
