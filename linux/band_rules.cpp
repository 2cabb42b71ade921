#include "linux/band_rules.h"

#include <cmath>

#include "core/ctext.h"

namespace kelvane::svc {

BandRules::BandRules(const Station& station)
    : station_(station), writer_(binding_, nullptr), core_(station_.bands, writer_) {
    writer_.m_bNT = 1;
    static_cast<SwitcherTables&>(core_) = station_.tables;
    core_.AttachView(&view_);
}

std::optional<int> BandRules::AntennaFor(double hertz) {
    const double kHz = hertz * 0.001;
    if (!std::isfinite(kHz) || kHz == 0.0) return std::nullopt;
    view_.text = FormatKHz(kHz);
    view_.shown = -1;
    core_.MatchFrequency();
    if (view_.shown < 0) return std::nullopt;
    return view_.shown;
}

}  // namespace kelvane::svc
