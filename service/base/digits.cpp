#include "service/base/digits.h"

#include <algorithm>
#include <charconv>

namespace kelvane::svc {

bool ParseDigits(std::string_view text, std::uint64_t max, std::uint64_t& out, std::string& why) {
    why.clear();
    if (text.empty()) {
        why = "empty";
        return false;
    }
    for (const char c : text) {
        if (c < '0' || c > '9') {
            why = "not a plain number";
            return false;
        }
    }
    // Leading zeros say nothing, and only they may make a short value long.
    const std::size_t first = std::min(text.find_first_not_of('0'), text.size());
    const std::string_view significant = text.substr(first);
    if (significant.size() > std::to_string(max).size()) {
        why = "out of range";
        return false;
    }
    std::uint64_t value = 0;
    if (!significant.empty()) std::from_chars(significant.data(), significant.data() + significant.size(), value);
    if (value > max) {
        why = "out of range";
        return false;
    }
    out = value;
    return true;
}

}  // namespace kelvane::svc
