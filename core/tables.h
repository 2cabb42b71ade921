#pragma once
// The configuration all switching works on: bands, antennas, the band-to-antenna
// assignment and the port address. Sizes are fixed at ten; no count is stored.

#include <array>
#include <cstdint>
#include <string>

namespace kelvane {

inline constexpr int kBandCount = 10;
inline constexpr int kAntennaCount = 10;

// Process-wide in the program; edited in place by the bands dialog, so the
// arrays are exposed rather than copied.
struct BandTable {
    std::array<std::string, kBandCount> name;
    std::array<std::int32_t, kBandCount> low;   // kHz, inclusive
    std::array<std::int32_t, kBandCount> high;  // kHz, inclusive

    BandTable();
};

struct BandAssignment {
    // Expected 0..9, but a damaged file or an empty selector can put anything here.
    std::array<std::int32_t, kBandCount> m_bandAntenna;
    BandAssignment();
};

struct AntennaTable {
    std::array<std::string, kAntennaCount> m_antName;
    std::array<std::uint32_t, kAntennaCount> m_antValue;  // only the low byte reaches the port
    AntennaTable();
};

// Everything the settings file carries besides the band table.
struct SwitcherTables : AntennaTable, BandAssignment {
    std::int32_t m_portAddr = 0x278;
};

constexpr bool IsAntennaIndex(std::int32_t a) { return a >= 0 && a < kAntennaCount; }

}  // namespace kelvane
