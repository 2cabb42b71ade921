#pragma once
// Where to connect or listen, as the command line and the config write it,
// read the same way for every source and for the web console.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace kelvane::svc {

struct Endpoint {
    std::string host;
    std::string port;  // digits, 1 to 65535
};

// What a caller accepts besides HOST:PORT and [IPv6]:PORT.
struct EndpointForm {
    // A text without a port: refused, a host alone, or a port alone; the part
    // left out is the one `out` already holds.
    enum Alone { kRefused, kHost, kPort } alone = kRefused;
    // The host must be an IPv4 or IPv6 address: no name to look up.
    bool numeric = false;
};

struct EndpointFault {
    // The first thing wrong: the brackets or a missing port, an empty host, a
    // name where an address must be, the port.
    enum Kind { kNone, kShape, kNoHost, kNotNumeric, kPort } kind = kNone;
    std::string_view part;  // the host or port at fault, as written
};

// `out` changes only when nothing is wrong.
EndpointFault ParseEndpoint(std::string_view text, EndpointForm form, Endpoint& out);
// HOST:PORT or [IPv6]:PORT, both given; false when either part is missing.
bool ParseEndpoint(std::string_view text, Endpoint& out);

// A numeric IPv4 or IPv6 address, read as the system reads one (the
// platform's files give this); kNone when `host` is neither.
struct NumericAddress {
    enum Family { kNone, kV4, kV6 } family = kNone;
    std::array<std::uint8_t, 16> bytes{};  // network order; IPv4 in the first four
};
NumericAddress ReadNumericAddress(const std::string& host);

// localhost, 127.0.0.0/8 or ::1: reachable from this machine only.
bool IsLoopback(const std::string& host);

}  // namespace kelvane::svc
