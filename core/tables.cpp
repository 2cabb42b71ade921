#include "core/tables.h"

namespace kelvane {

BandTable::BandTable()
    : name{"160m", "80m", "40m", "30m", "20m", "17m", "15m", "12m", "10m", "6m"},
      low{1750, 3500, 7000, 10100, 14000, 18068, 21000, 24890, 28000, 50000},
      high{2000, 4000, 7200, 10500, 14350, 18168, 21450, 24990, 29700, 54000} {}

BandAssignment::BandAssignment() { m_bandAntenna.fill(0); }

AntennaTable::AntennaTable() {
    for (int i = 0; i < kAntennaCount; ++i) {
        m_antName[i] = "Ant #" + std::to_string(i + 1);
        // Masked to one byte: antennas 9 and 10 start at 0, not 256 and 512.
        m_antValue[i] = (1u << i) & 0xFFu;
    }
}

}  // namespace kelvane
