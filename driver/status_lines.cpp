#include "driver/status_log.h"

namespace korvport {

std::string WithStatusLine(std::string text, const std::string& line, std::size_t limit) {
    static const std::string kMarker = "(older lines dropped)\n";
    text += line;
    text += '\n';
    if (text.size() <= limit) return text;
    // Whole lines only, so every line left still reads from its time stamp; the
    // new line always stays.
    const std::size_t lineStart = text.size() - line.size() - 1;
    std::size_t from = text.size() - limit / 2;
    // An old line running past the cut point is dropped whole; the search must
    // not reach past the old text into the new line's own end.
    const std::size_t nl = from >= lineStart ? lineStart : text.find('\n', from - 1);
    from = nl >= lineStart ? lineStart : nl + 1;
    std::string kept = kMarker + text.substr(from);
    // A single line longer than the limit is cut rather than let through.
    if (kept.size() > limit) kept = kMarker + line.substr(0, limit - kMarker.size() - 1) + '\n';
    return kept;
}

}  // namespace korvport
