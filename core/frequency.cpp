#include "core/frequency.h"

#include <cmath>

#include "core/ctext.h"

namespace kelvane {

std::optional<std::string> HostFrequencyText(double hertz, bool autoOn) {
    const double kHz = hertz * 0.001;
    if (!autoOn || !std::isfinite(kHz) || kHz == 0.0) return std::nullopt;
    return FormatKHz(kHz);
}

}  // namespace kelvane
