#pragma once
// RadioInfo datagrams on a UDP port: the source spec, a listener to poll on,
// and the rule that says when the logger has gone quiet.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "service/base/endpoint.h"
#include "service/base/net.h"
#include "service/sources/udp/radio_info.h"

namespace kelvane::svc {

constexpr std::uint16_t kRadioInfoPort = 12060;

// The senders a listener takes datagrams from: ADDR/BITS, ADDR alone all its bits.
struct AddressPrefix {
    NumericAddress address;
    int bits = 0;
};
// False when `text` is no IPv4 or IPv6 address with an optional /BITS in range.
bool ParsePrefix(std::string_view text, AddressPrefix& out);
// Whether `sender` ("ADDR:PORT" as a datagram socket gives it) is under one of
// `from`; every sender is when `from` is empty. An IPv4 sender seen as an
// IPv4-mapped IPv6 address is matched as IPv4.
bool Admits(const std::vector<AddressPrefix>& from, const std::string& sender);

struct UdpSpec {
    std::string address;  // numeric IPv4 or IPv6; empty: every IPv4 interface
    std::uint16_t port = kRadioInfoPort;
    int radio = 1;                         // the RadioNr followed; a listener for 0 takes every radio's
    std::vector<AddressPrefix> from = {};  // empty: any sender
};
// "udp", "udp:PORT", "udp:ADDR:PORT" or "udp:[ADDR6]:PORT", each with optional
// ",radio=N" and ",from=ADDR[/BITS]" (repeated, or more prefixes after it
// separated by commas). False with the reason when it is none of these.
bool ParseUdpSpec(std::string_view text, UdpSpec& out, std::string& why);

// No reading for this long and the source is lost; the next one brings it back.
class Silence {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kLimit{30};
    // Silence counts from `start` until the first reading.
    explicit Silence(Clock::time_point start, Clock::duration limit = kLimit) : m_last(start), m_limit(limit) {}
    void Heard(Clock::time_point now) { m_last = now; }
    bool Lost(Clock::time_point now) const { return now - m_last >= m_limit; }
    Clock::time_point LastHeard() const { return m_last; }

private:
    Clock::time_point m_last;
    Clock::duration m_limit;
};

class UdpListener {
public:
    explicit UdpListener(UdpSpec spec) : m_spec(std::move(spec)) {}
    // Radios sharing the port share its senders: the listed ones of each.
    void AdmitAlso(const std::vector<AddressPrefix>& from) {
        if (m_spec.from.empty() || from.empty()) {
            m_spec.from.clear();
            return;
        }
        m_spec.from.insert(m_spec.from.end(), from.begin(), from.end());
    }

    // Binds (SO_REUSEADDR, so other listeners on this host can share the port);
    // false with the reason.
    bool Open(std::string& why);
    // Readable when datagrams wait; kNoHandle before Open.
    Handle Fd() const { return m_socket.Ready(); }
    // The bound port (the one the system chose for port 0).
    std::uint16_t Port() const { return m_socket.Port(); }

    struct Drained {
        std::vector<RadioInfo> readings;    // the followed radio's, oldest first
        std::vector<std::string> refusals;  // "from ADDR: reason"
        std::size_t otherRadios = 0;        // good readings of another RadioNr
        std::size_t foreign = 0;            // dropped unread: their sender is outside from=
        std::string foreignSender;          // the last of those, "ADDR:PORT"
        bool more = false;                  // stopped at the bound; datagrams still wait
        std::string error;                  // a receive error other than "nothing waits"
    };
    // Reads what is waiting without blocking, at most `limit` datagrams.
    Drained Drain(std::size_t limit = 256);

    const UdpSpec& spec() const { return m_spec; }

private:
    UdpSpec m_spec;
    DatagramSocket m_socket;
};

}  // namespace kelvane::svc
