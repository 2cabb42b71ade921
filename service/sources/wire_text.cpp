#include "service/sources/wire_text.h"

#include <algorithm>
#include <charconv>

namespace kelvane::svc {

std::string Printable(std::string_view text, std::size_t limit) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (const char c : text.substr(0, limit)) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7F && c != '\\') {
            out.push_back(c);
        } else {
            out += "\\x";
            out.push_back(kHex[u >> 4]);
            out.push_back(kHex[u & 15]);
        }
    }
    if (text.size() > limit) out += "...";
    return out;
}

bool ParseEndpoint(std::string_view text, Endpoint& out) {
    std::size_t colon;
    std::string_view host;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos || close + 1 >= text.size() || text[close + 1] != ':') return false;
        host = text.substr(1, close - 1);
        colon = close + 1;
    } else {
        colon = text.rfind(':');
        if (colon == std::string_view::npos) return false;
        host = text.substr(0, colon);
    }
    const std::string_view port = text.substr(colon + 1);
    std::uint64_t number = 0;
    std::string why;
    if (host.empty() || !ParseDigits(port, 65535, number, why) || number == 0) return false;
    out.host = std::string(host);
    out.port = std::string(port);
    return true;
}

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
