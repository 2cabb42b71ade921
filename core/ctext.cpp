#include "core/ctext.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace kelvane {
namespace {

// The C locale's isspace set; <cctype> would consult the process locale.
constexpr bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }
constexpr int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::size_t SkipBlanks(std::string_view s, std::size_t i = 0) {
    while (i < s.size() && IsBlank(s[i])) ++i;
    return i;
}

// Reads an optional sign at s[i]; returns true when it was '-'.
bool ReadSign(std::string_view s, std::size_t& i) {
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) return s[i++] == '-';
    return false;
}

// Reads decimal digits, saturating the magnitude at `limit`; false when none.
bool ReadDecimal(std::string_view s, std::size_t& i, std::uint64_t limit, std::uint64_t& out) {
    const std::size_t start = i;
    out = 0;
    for (; i < s.size() && IsDigit(s[i]); ++i) {
        out = out * 10 + static_cast<unsigned>(s[i] - '0');
        if (out > limit) out = limit;
    }
    return i > start;
}

}  // namespace

double CAtof(std::string_view s) {
    std::size_t i = SkipBlanks(s);
    const bool negative = ReadSign(s, i);
    const std::size_t numberStart = i;

    std::size_t intDigits = 0, fracDigits = 0;
    std::size_t firstNonZeroInt = std::string_view::npos, leadingFracZeros = 0;
    for (; i < s.size() && IsDigit(s[i]); ++i, ++intDigits)
        if (s[i] != '0' && firstNonZeroInt == std::string_view::npos) firstNonZeroInt = intDigits;
    if (i < s.size() && s[i] == '.') {
        ++i;
        bool seenNonZero = false;
        for (; i < s.size() && IsDigit(s[i]); ++i, ++fracDigits) {
            if (s[i] != '0') seenNonZero = true;
            if (!seenNonZero) ++leadingFracZeros;
        }
    }
    if (intDigits + fracDigits == 0) return 0.0;

    std::size_t end = i;
    long long exponent = 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        std::size_t j = i + 1;
        const bool expNegative = ReadSign(s, j);
        std::uint64_t e = 0;
        // Saturating keeps absurd exponents from overflowing; any exponent this
        // large is out of range anyway.
        if (ReadDecimal(s, j, 100000, e)) {
            exponent = expNegative ? -static_cast<long long>(e) : static_cast<long long>(e);
            end = j;
        }
    }

    // from_chars takes no sign and no leading '+', and is exact (no locale).
    double value = 0.0;
    const char* first = s.data() + numberStart;
    const auto [ptr, ec] = std::from_chars(first, s.data() + end, value, std::chars_format::general);
    if (ec == std::errc::result_out_of_range) {
        // Decimal magnitude of the number decides overflow versus underflow.
        long long magnitude = exponent;
        if (firstNonZeroInt != std::string_view::npos)
            magnitude += static_cast<long long>(intDigits - firstNonZeroInt);
        else
            magnitude -= static_cast<long long>(leadingFracZeros);
        value = magnitude > 0 ? HUGE_VAL : 0.0;
    } else if (ec != std::errc() || ptr != s.data() + end) {
        value = 0.0;  // cannot happen for a prefix validated above
    }
    return negative ? -value : value;
}

std::int32_t CAtoi(std::string_view s) {
    std::size_t i = SkipBlanks(s);
    const bool negative = ReadSign(s, i);
    constexpr std::uint64_t kMaxPositive = std::numeric_limits<std::int32_t>::max();
    std::uint64_t magnitude = 0;
    if (!ReadDecimal(s, i, kMaxPositive + 1, magnitude)) return 0;
    if (negative) return static_cast<std::int32_t>(-static_cast<std::int64_t>(magnitude));
    return static_cast<std::int32_t>(magnitude > kMaxPositive ? kMaxPositive : magnitude);
}

bool CScanHex(std::string_view s, std::int32_t& value) {
    std::size_t i = SkipBlanks(s);
    const bool negative = ReadSign(s, i);
    // "0x" not followed by a hex digit is the number 0, as strtoul reads it.
    if (i + 2 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X') && HexDigit(s[i + 2]) >= 0) i += 2;
    const std::size_t start = i;
    std::uint64_t magnitude = 0;
    for (; i < s.size() && HexDigit(s[i]) >= 0; ++i) {
        magnitude = magnitude * 16 + static_cast<unsigned>(HexDigit(s[i]));
        if (magnitude > 0xFFFFFFFFu) magnitude = 0xFFFFFFFFu;
    }
    if (i == start) return false;
    std::uint32_t bits = static_cast<std::uint32_t>(magnitude);
    if (negative) bits = 0u - bits;
    value = static_cast<std::int32_t>(bits);
    return true;
}

namespace {
// A whole field: blanks, the number, blanks. Magnitude saturates one past the
// limit so that an overflow is seen as out of range.
bool ParseField(std::string_view s, bool allowMinus, std::uint64_t limitPositive, std::uint64_t limitNegative,
                bool& negative, std::uint64_t& magnitude) {
    std::size_t i = SkipBlanks(s);
    negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        if (s[i] == '-' && !allowMinus) return false;
        negative = s[i++] == '-';
    }
    const std::uint64_t limit = negative ? limitNegative : limitPositive;
    if (!ReadDecimal(s, i, limit + 1, magnitude)) return false;
    if (SkipBlanks(s, i) != s.size()) return false;
    return magnitude <= limit;
}
}  // namespace

bool ParseSignedField(std::string_view s, std::int32_t& value) {
    bool negative = false;
    std::uint64_t magnitude = 0;
    if (!ParseField(s, true, 2147483647u, 2147483648u, negative, magnitude)) return false;
    value = static_cast<std::int32_t>(negative ? -static_cast<std::int64_t>(magnitude)
                                               : static_cast<std::int64_t>(magnitude));
    return true;
}

bool ParseUnsignedField(std::string_view s, std::uint32_t& value) {
    bool negative = false;
    std::uint64_t magnitude = 0;
    if (!ParseField(s, false, 0xFFFFFFFFu, 0, negative, magnitude)) return false;
    value = static_cast<std::uint32_t>(magnitude);
    return true;
}

std::string FormatKHz(double kHz) {
    // Fixed notation of DBL_MAX needs 309 digits plus the decimals.
    char buf[400];
    const auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, kHz, std::chars_format::fixed, 3);
    return ec == std::errc() ? std::string(buf, ptr) : std::string();
}

std::string FormatInt(std::int32_t value) {
    char buf[16];
    const auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, ptr);
}

std::string FormatUnsigned(std::uint32_t value) {
    char buf[16];
    const auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, ptr);
}

std::string FormatHex03(std::int32_t value) {
    char buf[16];
    const auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, static_cast<std::uint32_t>(value), 16);
    std::string digits(buf, ptr);
    if (digits.size() < 3) digits.insert(0, 3 - digits.size(), '0');
    return digits;
}

std::string_view Trim(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

}  // namespace kelvane
