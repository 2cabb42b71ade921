#pragma once
// An unsigned decimal number, read strictly: from the wire and from the
// command line alike.

#include <cstdint>
#include <string>
#include <string_view>

namespace kelvane::svc {

// Digits only, at least one, and at most `max`; the length is checked before
// any conversion, so no input can overflow. Nothing in `why` on success.
bool ParseDigits(std::string_view text, std::uint64_t max, std::uint64_t& out, std::string& why);

}  // namespace kelvane::svc
