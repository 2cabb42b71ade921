#pragma once
// What every source reads from its command-line spec and from the wire,
// strictly: an endpoint, an unsigned decimal number, and a printable excerpt of
// bytes that were refused.

#include <cstdint>
#include <string>
#include <string_view>

namespace kelvane::svc {

struct Endpoint {
    std::string host = "localhost";
    std::string port = "4532";
};
// HOST:PORT, [IPv6]:PORT; false when either part is missing.
bool ParseEndpoint(std::string_view text, Endpoint& out);

// The start of `text` with every byte outside printable ASCII as \xNN.
std::string Printable(std::string_view text, std::size_t limit = 40);

// Digits only, at least one, and at most `max`; the length is checked before
// any conversion, so no input can overflow. Nothing in `why` on success.
bool ParseDigits(std::string_view text, std::uint64_t max, std::uint64_t& out, std::string& why);

}  // namespace kelvane::svc
