#include "service/sources/udp/udp_listener.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "service/sources/wire_text.h"

namespace kelvane::svc {
namespace {

std::string SenderText(const sockaddr_storage& from) {
    char host[INET6_ADDRSTRLEN] = "?";
    char port[8] = "?";
    ::getnameinfo(reinterpret_cast<const sockaddr*>(&from), sizeof from, host, sizeof host, port, sizeof port,
                  NI_NUMERICHOST | NI_NUMERICSERV);
    return std::string(host) + ":" + port;
}

}  // namespace

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
    sockaddr_storage address{};
    socklen_t length = 0;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
    if (m_spec.address.empty()) {
        v4->sin_family = AF_INET;
        v4->sin_addr.s_addr = htonl(INADDR_ANY);
        v4->sin_port = htons(m_spec.port);
        length = sizeof *v4;
    } else if (::inet_pton(AF_INET, m_spec.address.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(m_spec.port);
        length = sizeof *v4;
    } else if (::inet_pton(AF_INET6, m_spec.address.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(m_spec.port);
        length = sizeof *v6;
    } else {
        why = "not a numeric address: " + Printable(m_spec.address);
        return false;
    }
    UniqueFd fd(::socket(address.ss_family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd) {
        why = std::string("cannot open a UDP socket (") + std::strerror(errno) + ")";
        return false;
    }
    const int one = 1;
    const std::string where = (m_spec.address.empty() ? "*" : m_spec.address) + ":" + std::to_string(m_spec.port);
    if (::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
        ::bind(fd.Get(), reinterpret_cast<sockaddr*>(&address), length) != 0) {
        why = "cannot listen on udp " + where + " (" + std::strerror(errno) + ")";
        return false;
    }
    ::getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&address), &length);
    m_boundPort = ntohs(address.ss_family == AF_INET ? v4->sin_port : v6->sin6_port);
    m_fd = std::move(fd);
    return true;
}

UdpListener::Drained UdpListener::Drain(std::size_t limit) {
    Drained out;
    if (!m_fd) {
        out.error = "not listening";
        return out;
    }
    // One byte more than a datagram may have, so that MSG_TRUNC's length is the
    // only way a larger one shows.
    char buffer[kRadioInfoMaxBytes + 1];
    for (std::size_t count = 0;; ++count) {
        if (count == limit) {
            out.more = true;
            return out;
        }
        sockaddr_storage from{};
        socklen_t fromLength = sizeof from;
        const ssize_t n = ::recvfrom(m_fd.Get(), buffer, sizeof buffer, MSG_TRUNC | MSG_DONTWAIT,
                                     reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) out.error = std::strerror(errno);
            return out;
        }
        const auto size = static_cast<std::size_t>(n);
        // The reader refuses an oversized datagram by its size alone, before looking at it.
        const RadioInfoRead read =
            size > kRadioInfoMaxBytes
                ? RadioInfoRead{std::nullopt, "datagram of " + std::to_string(size) + " bytes, more than " +
                                                  std::to_string(kRadioInfoMaxBytes)}
                : ReadRadioInfo(std::string_view(buffer, size));
        if (!read.info) {
            out.refusals.push_back("from " + SenderText(from) + ": " + read.refusal);
        } else if (m_spec.radio != 0 && read.info->radio != m_spec.radio) {
            ++out.otherRadios;
        } else {
            out.readings.push_back(*read.info);
        }
    }
}

}  // namespace kelvane::svc
