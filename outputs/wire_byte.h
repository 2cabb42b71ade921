#pragma once
// The byte that goes on eight parallel lines: D0-D7 of a bit-bang chip, the data
// lines of a parallel port, or eight GPIO lines.

#include <cstdint>

namespace kelvane::outputs {

// Active-low boards energise a relay on a low line, so their users ask for the
// complement of what the program writes.
constexpr std::uint8_t WireByte(std::uint8_t value, bool invert) {
    return invert ? static_cast<std::uint8_t>(~value) : value;
}

}  // namespace kelvane::outputs
