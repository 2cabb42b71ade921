#pragma once
// What a reading of the host radio's frequency does to the frequency field.

#include <optional>
#include <string>

namespace kelvane {

// The field's new text, "%.3f" kHz, or nothing: with Auto off, at 0 Hz and for
// NaN or an infinity (their text would read back as 0 kHz and switch to
// whatever band holds 0).
std::optional<std::string> HostFrequencyText(double hertz, bool autoOn);

}  // namespace kelvane
