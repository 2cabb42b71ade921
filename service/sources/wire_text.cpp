#include "service/sources/wire_text.h"

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

}  // namespace kelvane::svc
