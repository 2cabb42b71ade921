#include "core/band_match.h"

#include "core/ctext.h"
#include "core/frequency.h"

namespace kelvane {

std::vector<int> MatchingBands(const BandTable& bands, double kHz) {
    std::vector<int> matches;
    for (int i = 0; i < kBandCount; ++i)
        if (static_cast<double>(bands.low[i]) <= kHz && kHz <= static_cast<double>(bands.high[i])) matches.push_back(i);
    return matches;
}

std::optional<int> AntennaForKHz(const BandTable& bands, const BandAssignment& assignment, double kHz) {
    const std::vector<int> matches = MatchingBands(bands, kHz);
    for (auto band = matches.rbegin(); band != matches.rend(); ++band) {
        const std::int32_t a = assignment.m_bandAntenna[static_cast<std::size_t>(*band)];
        if (IsAntennaIndex(a)) return a;
    }
    return std::nullopt;
}

std::optional<int> AntennaForReading(const BandTable& bands, const BandAssignment& assignment, double hertz,
                                     bool autoOn) {
    const auto text = HostFrequencyText(hertz, autoOn);
    if (!text) return std::nullopt;
    return AntennaForKHz(bands, assignment, CAtof(*text));
}

}  // namespace kelvane
