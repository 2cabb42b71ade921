#include "service/sources/udp/udp_listener.h"

#include <algorithm>

#include "service/sources/wire_text.h"

namespace kelvane::svc {

bool ParseUdpSpec(std::string_view text, UdpSpec& out, std::string& why) {
    UdpSpec spec;
    if (text.substr(0, 3) != "udp" || (text.size() > 3 && text[3] != ':')) {
        why = "not a udp source";
        return false;
    }
    text.remove_prefix(std::min<std::size_t>(text.size(), 4));
    std::string_view where = text.substr(0, text.find(','));
    std::string_view options = text.substr(where.size());
    while (!options.empty()) {
        options.remove_prefix(1);  // the comma
        const std::string_view option = options.substr(0, options.find(','));
        options.remove_prefix(option.size());
        std::uint64_t radio = 0;
        if (option.substr(0, 6) != "radio=") {
            why = "unknown option '" + Printable(option) + "' (radio=N is the one option)";
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
