#pragma once
// Several radios on one set of antennas: which antenna each radio may have, so
// that no antenna is ever connected to two transmitters at once. A pure rule
// over what the radios want and hold; the caller says which radios may change
// now (a radio that transmits, or that has not read receive since, may not).

#include <array>
#include <cstddef>
#include <optional>
#include <vector>

#include "core/tables.h"

namespace kelvane {

// Per band, the antennas to try after its assigned one, in order (from 0).
using Alternates = std::array<std::vector<int>, kBandCount>;

// The band's antennas in order of preference: the assigned antenna, then the
// alternates; damaged indices and repeats are dropped.
std::vector<int> BandChoices(const BandAssignment& assignment, const Alternates& alternates, int band);

// The choices of the band a reading switches to: the last matching band that
// has any, by the rules AntennaForReading applies. Nothing when no band has.
std::optional<std::vector<int>> ChoicesForReading(const BandTable& bands, const BandAssignment& assignment,
                                                  const Alternates& alternates, double hertz);

// The first antenna a band lists whose value sets output line `line` (1-8):
// a radio's inhibit line must be one no antenna it can be given uses.
std::optional<int> AntennaOnLine(const SwitcherTables& tables, const Alternates& alternates, int line);

struct LockoutRadio {
    std::vector<int> choices;  // in order of preference; empty: wants none
    std::optional<int> holds;  // connected now
    bool mayChange = true;
};

struct LockoutGrant {
    std::optional<int> antenna;
    // It wants one but holds none: the radio holding its first choice.
    std::optional<std::size_t> blockedBy;
};

// A radio that may not change keeps what it holds. One that may change gets
// the first of its choices no other radio holds; it keeps a held antenna its
// choices still list unless a better one is free. Radios are served in order,
// so a tie goes to the one listed first.
std::vector<LockoutGrant> Lockout(const std::vector<LockoutRadio>& radios);

}  // namespace kelvane
