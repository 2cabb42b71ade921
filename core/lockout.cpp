#include "core/lockout.h"

#include <algorithm>

#include "core/band_match.h"
#include "core/ctext.h"
#include "core/frequency.h"

namespace kelvane {

std::vector<int> BandChoices(const BandAssignment& assignment, const Alternates& alternates, int band) {
    std::vector<int> choices;
    const auto add = [&](int a) {
        if (IsAntennaIndex(a) && std::find(choices.begin(), choices.end(), a) == choices.end()) choices.push_back(a);
    };
    add(assignment.m_bandAntenna[static_cast<std::size_t>(band)]);
    for (const int a : alternates[static_cast<std::size_t>(band)]) add(a);
    return choices;
}

std::optional<std::vector<int>> ChoicesForReading(const BandTable& bands, const BandAssignment& assignment,
                                                  const Alternates& alternates, double hertz) {
    const auto text = HostFrequencyText(hertz, true);
    if (!text) return std::nullopt;
    const std::vector<int> matches = MatchingBands(bands, CAtof(*text));
    for (auto band = matches.rbegin(); band != matches.rend(); ++band)
        if (auto choices = BandChoices(assignment, alternates, *band); !choices.empty()) return choices;
    return std::nullopt;
}

std::optional<int> AntennaOnLine(const SwitcherTables& tables, const Alternates& alternates, int line) {
    std::optional<int> found;
    for (int band = 0; band < kBandCount; ++band)
        for (const int a : BandChoices(tables, alternates, band))
            if ((tables.m_antValue[static_cast<std::size_t>(a)] >> (line - 1) & 1u) != 0 && (!found || a < *found))
                found = a;
    return found;
}

std::vector<LockoutGrant> Lockout(const std::vector<LockoutRadio>& radios) {
    std::vector<LockoutGrant> grants(radios.size());
    for (std::size_t i = 0; i < radios.size(); ++i) {
        const LockoutRadio& r = radios[i];
        const bool listed = r.holds && std::count(r.choices.begin(), r.choices.end(), *r.holds) > 0;
        if (!r.mayChange || listed) grants[i].antenna = r.holds;
    }
    const auto heldByOther = [&](int antenna, std::size_t self) -> std::optional<std::size_t> {
        for (std::size_t j = 0; j < grants.size(); ++j)
            if (j != self && grants[j].antenna == antenna) return j;
        return std::nullopt;
    };
    // Each move takes a radio to a better choice, and nothing held is taken,
    // so this ends; a move frees an antenna an earlier radio may want.
    for (bool moved = true; moved;) {
        moved = false;
        for (std::size_t i = 0; i < radios.size(); ++i) {
            if (!radios[i].mayChange) continue;
            for (const int a : radios[i].choices) {
                if (grants[i].antenna == a) break;
                if (heldByOther(a, i)) continue;
                grants[i].antenna = a;
                moved = true;
                break;
            }
        }
    }
    for (std::size_t i = 0; i < radios.size(); ++i)
        if (!grants[i].antenna && !radios[i].choices.empty())
            grants[i].blockedBy = heldByOther(radios[i].choices.front(), i);
    return grants;
}

}  // namespace kelvane
