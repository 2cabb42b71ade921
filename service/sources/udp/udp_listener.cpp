#include "service/sources/udp/udp_listener.h"

#include <algorithm>

#include "service/sources/wire_text.h"

namespace kelvane::svc {

bool ParsePrefix(std::string_view text, AddressPrefix& out) {
    const std::size_t slash = text.find('/');
    AddressPrefix prefix{ReadNumericAddress(std::string(text.substr(0, slash))), 0};
    const int all = prefix.address.family == NumericAddress::kV4 ? 32 : 128;
    prefix.bits = all;
    if (prefix.address.family == NumericAddress::kNone) return false;
    if (slash != std::string_view::npos) {
        std::uint64_t bits = 0;
        std::string why;
        if (!ParseDigits(text.substr(slash + 1), static_cast<std::uint64_t>(all), bits, why)) return false;
        prefix.bits = static_cast<int>(bits);
    }
    out = prefix;
    return true;
}

bool Admits(const std::vector<AddressPrefix>& from, const std::string& sender) {
    if (from.empty()) return true;
    NumericAddress address = ReadNumericAddress(sender.substr(0, sender.rfind(':')));
    constexpr std::uint8_t kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    if (address.family == NumericAddress::kV6 && std::equal(kMapped, kMapped + 12, address.bytes.begin())) {
        std::copy(address.bytes.begin() + 12, address.bytes.end(), address.bytes.begin());
        address.family = NumericAddress::kV4;
    }
    return std::any_of(from.begin(), from.end(), [&](const AddressPrefix& p) {
        if (p.address.family != address.family) return false;
        const auto whole = static_cast<std::size_t>(p.bits / 8);
        if (!std::equal(p.address.bytes.begin(), p.address.bytes.begin() + static_cast<long>(whole),
                        address.bytes.begin()))
            return false;
        const int rest = p.bits % 8;
        const auto mask = static_cast<std::uint8_t>(0xFF << (8 - rest));
        return rest == 0 || ((p.address.bytes[whole] ^ address.bytes[whole]) & mask) == 0;
    });
}

bool ParseUdpSpec(std::string_view text, UdpSpec& out, std::string& why) {
    UdpSpec spec;
    if (text.substr(0, 3) != "udp" || (text.size() > 3 && text[3] != ':')) {
        why = "not a udp source";
        return false;
    }
    text.remove_prefix(std::min<std::size_t>(text.size(), 4));
    std::string_view where = text.substr(0, text.find(','));
    std::string_view options = text.substr(where.size());
    bool inFrom = false;  // a bare prefix after from= is one more of its list
    while (!options.empty()) {
        options.remove_prefix(1);  // the comma
        const std::string_view option = options.substr(0, options.find(','));
        options.remove_prefix(option.size());
        const bool from = option.substr(0, 5) == "from=";
        if (from || (inFrom && option.find('=') == std::string_view::npos)) {
            AddressPrefix prefix;
            if (!ParsePrefix(option.substr(from ? 5 : 0), prefix)) {
                why = "from= takes numeric IPv4 or IPv6 addresses, each with an optional /BITS, not '" +
                      Printable(option) + "'";
                return false;
            }
            spec.from.push_back(prefix);
            inFrom = true;
            continue;
        }
        inFrom = false;
        std::uint64_t radio = 0;
        if (option.substr(0, 6) != "radio=") {
            why = "unknown option '" + Printable(option) + "' (radio=N and from=ADDR[/BITS] are the options)";
            return false;
        }
        if (!ParseDigits(option.substr(6), kMaxRadioNr, radio, why) || radio == 0) {
            why = "radio=N takes a number from 1 to " + std::to_string(kMaxRadioNr);
            return false;
        }
        spec.radio = static_cast<int>(radio);
    }
    Endpoint endpoint{spec.address, std::to_string(spec.port)};
    const EndpointFault fault =
        where.empty() ? EndpointFault{} : ParseEndpoint(where, {EndpointForm::kPort, true}, endpoint);
    if (fault.kind == EndpointFault::kNotNumeric) {
        why = "the address must be a numeric IPv4 or IPv6 address, not '" + Printable(fault.part) + "'";
        return false;
    }
    if (fault.kind != EndpointFault::kNone) {
        why = where.find(':') != std::string_view::npos
                  ? "ADDR:PORT expected, not '" + Printable(where) + "'"
                  : "the port must be a number from 1 to 65535, not '" + Printable(where) + "'";
        return false;
    }
    spec.address = endpoint.host;
    spec.port = static_cast<std::uint16_t>(std::stoi(endpoint.port));
    out = spec;
    why.clear();
    return true;
}

bool UdpListener::Open(std::string& why) {
    std::string error;
    switch (m_socket.Bind(m_spec.address, m_spec.port, error)) {
    case DatagramSocket::BindFault::kNone:
        return true;
    case DatagramSocket::BindFault::kNotNumeric:
        why = "not a numeric address: " + Printable(m_spec.address);
        return false;
    case DatagramSocket::BindFault::kNoSocket:
        why = "cannot open a UDP socket (" + error + ")";
        return false;
    case DatagramSocket::BindFault::kNotBound:
        break;
    }
    const std::string where = (m_spec.address.empty() ? "*" : m_spec.address) + ":" + std::to_string(m_spec.port);
    why = "cannot listen on udp " + where + " (" + error + ")";
    return false;
}

UdpListener::Drained UdpListener::Drain(std::size_t limit) {
    Drained out;
    if (!m_socket.Bound()) {
        out.error = "not listening";
        return out;
    }
    // One byte more than a datagram may have, so that the whole length is the
    // only way a larger one shows.
    char buffer[kRadioInfoMaxBytes + 1];
    for (std::size_t count = 0;; ++count) {
        if (count == limit) {
            out.more = true;
            return out;
        }
        std::size_t size = 0;
        std::string from, error;
        const DatagramSocket::Io got = m_socket.ReceiveFrom(buffer, sizeof buffer, size, from, error);
        if (got != DatagramSocket::Io::kDone) {
            if (got == DatagramSocket::Io::kFailed) out.error = error;
            return out;
        }
        if (!Admits(m_spec.from, from)) {
            ++out.foreign;
            out.foreignSender = from;
            continue;
        }
        // The reader refuses an oversized datagram by its size alone, before looking at it.
        const RadioInfoRead read =
            size > kRadioInfoMaxBytes
                ? RadioInfoRead{std::nullopt, "datagram of " + std::to_string(size) + " bytes, more than " +
                                                  std::to_string(kRadioInfoMaxBytes)}
                : ReadRadioInfo(std::string_view(buffer, size));
        if (!read.info) {
            out.refusals.push_back("from " + from + ": " + read.refusal);
        } else if (m_spec.radio != 0 && read.info->radio != m_spec.radio) {
            ++out.otherRadios;
        } else {
            out.readings.push_back(*read.info);
        }
    }
}

}  // namespace kelvane::svc
