#include "service/base/text.h"

namespace kelvane::svc {
namespace {

// The length of the well-formed character at the start of `s`; 0 when none starts there.
std::size_t CharAt(std::string_view s) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char b = byte(0);
    if (b < 0x80) return 1;
    // The second byte's range rules out overlong forms, surrogates and code points past U+10FFFF.
    unsigned char low = 0x80, high = 0xBF;
    std::size_t len = 0;
    if (b >= 0xC2 && b <= 0xDF)
        len = 2;
    else if (b >= 0xE0 && b <= 0xEF) {
        len = 3;
        low = b == 0xE0 ? 0xA0 : 0x80;
        high = b == 0xED ? 0x9F : 0xBF;
    } else if (b >= 0xF0 && b <= 0xF4) {
        len = 4;
        low = b == 0xF0 ? 0x90 : 0x80;
        high = b == 0xF4 ? 0x8F : 0xBF;
    }
    if (len == 0 || s.size() < len || byte(1) < low || byte(1) > high) return 0;
    for (std::size_t i = 2; i < len; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
    return len;
}

}  // namespace

bool IsUtf8(std::string_view text) {
    for (std::size_t i = 0, len = 0; i < text.size(); i += len)
        if ((len = CharAt(text.substr(i))) == 0) return false;
    return true;
}

std::string Utf8Text(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        if (const std::size_t len = CharAt(text.substr(i))) {
            out.append(text.substr(i, len));
            i += len;
            continue;
        }
        const auto b = static_cast<unsigned char>(text[i++]);
        out += {'\\', 'x', kHex[b >> 4], kHex[b & 0xF]};
    }
    return out;
}

}  // namespace kelvane::svc
