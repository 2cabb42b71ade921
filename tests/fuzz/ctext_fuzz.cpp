// The locale-free conversions checked against glibc's own in the C locale, on
// the inputs where the two are meant to agree (ours take no hex floats,
// infinities or NaNs, and saturate where C leaves overflow undefined).
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/ctext.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

bool StartsLikeADecimal(const std::string& s) {
    std::size_t i = 0;
    while (i < s.size() && std::strchr(" \t\n\v\f\r", s[i]) && s[i]) ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) return false;
    return i < s.size() && ((s[i] >= '0' && s[i] <= '9') || s[i] == '.');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kelvane;
    const std::string s(reinterpret_cast<const char*>(data), size);
    const std::string z(s.c_str());  // what the C functions see: up to the first zero

    const double ours = CAtof(z);
    if (StartsLikeADecimal(z)) {
        const double theirs = std::strtod(z.c_str(), nullptr);
        Check(std::memcmp(&ours, &theirs, sizeof ours) == 0);
    } else {
        Check(ours == 0.0);
    }

    errno = 0;
    const long long wide = std::strtoll(z.c_str(), nullptr, 10);
    const long long clamped = wide > INT32_MAX ? INT32_MAX : wide < INT32_MIN ? INT32_MIN : wide;
    Check(CAtoi(z) == clamped);

    std::int32_t hex = 12345;
    char* end = nullptr;
    std::strtoull(z.c_str(), &end, 16);
    const bool scanned = CScanHex(z, hex);
    Check(scanned == (end != z.c_str()));
    if (!scanned) Check(hex == 12345);
    if (scanned) {
        // strtoull negates in 64 bits, where ours saturates the digits at 32
        // bits first: compare the digits' own value, then apply the sign.
        const char* p = z.c_str();
        while (*p && std::strchr(" \t\n\v\f\r", *p)) ++p;
        const bool negative = *p == '-';
        if (*p == '-' || *p == '+') ++p;
        errno = 0;
        const unsigned long long digits = std::strtoull(p, nullptr, 16);
        if (errno == 0 && digits <= 0xFFFFFFFFull) {
            const auto expected = static_cast<std::uint32_t>(negative ? 0u - digits : digits);
            Check(static_cast<std::uint32_t>(hex) == expected);
        } else {
            Check(static_cast<std::uint32_t>(hex) == (negative ? 1u : 0xFFFFFFFFu));
        }
    }

    std::int32_t field = 0;
    if (ParseSignedField(s, field)) {
        std::int32_t again = 0;
        Check(ParseSignedField(FormatInt(field), again) && again == field);
    }

    if (size >= sizeof(double)) {
        double d;
        std::memcpy(&d, data, sizeof d);
        char buf[400];
        if (std::isfinite(d)) {
            std::snprintf(buf, sizeof buf, "%.3f", d);
            Check(FormatKHz(d) == buf);
        }
        std::int32_t i;
        std::memcpy(&i, data, sizeof i);
        std::snprintf(buf, sizeof buf, "%i", i);
        Check(FormatInt(i) == buf);
        std::snprintf(buf, sizeof buf, "%03x", static_cast<unsigned>(i));
        Check(FormatHex03(i) == buf);
    }
    return 0;
}
