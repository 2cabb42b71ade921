#pragma once
// The band rule on its own, free of any window or port: which bands hold a
// frequency, and so which antenna a reading leaves switched.

#include <optional>
#include <vector>

#include "core/tables.h"

namespace kelvane {

// The bands whose inclusive edges hold `kHz`, in table order. Overlapping bands
// all match and are switched in this order, so the last one is what stays. A
// band whose low edge is above its high one, and NaN, match nothing.
std::vector<int> MatchingBands(const BandTable& bands, double kHz);

// The antenna left switched once the matching bands have been switched in
// order: that of the last one whose index is inside the antenna table (a
// damaged index switches nothing). Nothing when no band switches.
std::optional<int> AntennaForKHz(const BandTable& bands, const BandAssignment& assignment, double kHz);

// The same for a reading in hertz, by the rules of a host reading: nothing
// when HostFrequencyText gives no text, otherwise that "%.3f" kHz text read
// back, so every edition rounds alike at a band edge.
std::optional<int> AntennaForReading(const BandTable& bands, const BandAssignment& assignment, double hertz,
                                     bool autoOn);

}  // namespace kelvane
