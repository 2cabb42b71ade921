#include "linux/band_rules.h"

namespace kelvane::svc {

BandRules::BandRules(const Station& station) : m_station(station), m_core(m_station.bands, m_port), m_view(m_core) {
    static_cast<SwitcherTables&>(m_core) = m_station.tables;
    m_core.AttachView(&m_view);
}

std::optional<int> BandRules::AntennaFor(double hertz) {
    m_view.m_shown = -1;
    m_core.OnHostFrequency(hertz);
    if (m_view.m_shown < 0) return std::nullopt;
    return m_view.m_shown;
}

}  // namespace kelvane::svc
