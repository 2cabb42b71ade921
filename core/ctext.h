#pragma once
// Number <-> text conversions with the C locale's rules, whatever the process
// locale is, and the same on glibc and msvcrt (their atof/scanf disagree on hex
// and infinities, so neither is called).

#include <cstdint>
#include <string>
#include <string_view>

namespace kelvane {

// atof: leading blanks, optional sign, longest decimal prefix with optional
// exponent; 0.0 when there is no number. Hex floats, "inf" and "nan" are not
// numbers here. Overflow gives +-HUGE_VAL, underflow 0.
double CAtof(std::string_view text);

// atoi: leading blanks, optional sign, decimal digits; 0 without digits.
// Saturates at the int32 limits instead of overflowing.
std::int32_t CAtoi(std::string_view text);

// sscanf "%x": leading blanks, optional sign, optional 0x/0X, hex digits of
// either case. Returns false and leaves `value` alone when no number is there.
// Magnitudes beyond 32 bits saturate at 0xFFFFFFFF before the sign is applied.
bool CScanHex(std::string_view text, std::int32_t& value);

// Strict integer field parsers for dialog validation: optional blanks around
// the number, nothing else. Out-of-range values are rejected.
bool ParseSignedField(std::string_view text, std::int32_t& value);
bool ParseUnsignedField(std::string_view text, std::uint32_t& value);

// Without the blanks (space, tab, CR, LF) at either end.
std::string_view Trim(std::string_view text);

std::string FormatKHz(double kHz);                // "%.3f"
std::string FormatInt(std::int32_t value);        // "%i"
std::string FormatUnsigned(std::uint32_t value);  // "%u"
std::string FormatHex03(std::int32_t value);      // "%03x"

}  // namespace kelvane
