#pragma once
// KorvPortDll-status.log, beside the library: one time-stamped line per change
// of the USB backends' state or per config problem, kept under a size limit.

#include <cstddef>
#include <string>

namespace korvport {

inline constexpr char kStatusLogName[] = "KorvPortDll-status.log";

// One time-stamped line added to the bounded status log; a failure loses the line only.
void AppendStatus(const std::string& path, const std::string& text);

// The status log's limit, and what it holds once `line` is added to `text`:
// past the limit the oldest lines go, down to half of it, behind a marker line.
inline constexpr std::size_t kStatusLogMax = 32 * 1024;
std::string WithStatusLine(std::string text, const std::string& line, std::size_t limit = kStatusLogMax);

}  // namespace korvport
