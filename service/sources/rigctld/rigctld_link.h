#pragma once
// One TCP connection to rigctld, one command and one reply line at a time.
// Every failure is bounded in time: a reply that does not come within the
// timeout, a closed connection or a refused connect drop the link, and it
// reconnects by itself with a backoff that tops out at two seconds.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "service/base/log.h"
#include "service/base/net.h"
#include "service/sources/source.h"
#include "service/sources/backoff.h"
#include "service/platform/linux/name_lookup.h"
#include "service/sources/wire_text.h"

namespace kelvane::svc {

// A reply line, read strictly: a decimal number on its own (digits, an optional
// minus, an optional fraction; no blanks, exponent, comma or words; at most
// kMaxWholeDigits before the point), or "RPRT n". Anything else is bad, with a
// short reason that names its kind.
struct Reply {
    enum Kind { kNumber, kReport, kBad } kind = kBad;
    double number = 0.0;
    int report = 0;
    std::string bad;      // the kind of bad reply
    std::string excerpt;  // the start of a bad line, printable, for the log
};
// Exact in a double and in a long long, and far above any rig's frequency in hertz.
constexpr std::size_t kMaxWholeDigits = 15;
Reply ParseReply(std::string_view line);

// Hamlib's "feature not available" and "not implemented".
constexpr bool IsNotAvailable(int report) { return report == -11 || report == -4; }

struct LinkOptions {
    Endpoint endpoint{"localhost", kRigctldPort};
    std::chrono::milliseconds replyTimeout{1000};
    std::chrono::milliseconds firstBackoff{100};
    std::chrono::milliseconds maxBackoff{2000};
    std::size_t maxLine = 256;  // longer is no rigctld reply
};

class RigLink {
public:
    RigLink(LinkOptions options, Log& log)
        : m_options(std::move(options)), m_log(log), m_backoff(m_options.firstBackoff, m_options.maxBackoff) {}
    RigLink(const RigLink&) = delete;
    RigLink& operator=(const RigLink&) = delete;

    // From now until the reply timeout: the one deadline of everything up to
    // the next exchange (the connect, each command and its reply), so that a
    // peer that answers slowly cannot stretch a poll to a timeout per step.
    void StartExchange() { m_exchangeEnds = Clock::now() + m_options.replyTimeout; }
    // Connects when not connected and the backoff has passed; true when connected.
    bool EnsureConnected();
    // Sends `command` and reads its reply line. False when the link was lost
    // (it is then closed and will reconnect); a bad line is a true with kBad.
    bool Ask(std::string_view command, Reply& reply);
    // Gives up the connection (its stream can no longer be trusted) and backs off.
    void Drop(const std::string& why);

    bool Connected() const { return m_stream.Connected(); }
    // Whether a connection has ever been made (so that one now missing is lost, not yet to be found).
    bool EverConnected() const { return m_connections > 0; }
    // Counts connections, so that what is decided once per connection can tell them apart.
    std::uint64_t ConnectionNumber() const { return m_connections; }

private:
    using Clock = std::chrono::steady_clock;
    bool ConnectOnce(std::string& error);
    bool DrainStale();
    bool ReadLine(std::string& line, bool& tooLong, std::string& error);
    std::string Where() const { return m_options.endpoint.host + ":" + m_options.endpoint.port; }
    // The exchange's deadline; a step of its own without one.
    Clock::time_point ExchangeDeadline() const {
        return m_exchangeEnds.value_or(Clock::now() + m_options.replyTimeout);
    }

    LinkOptions m_options;
    Log& m_log;
    StreamSocket m_stream;
    std::uint64_t m_connections = 0;
    Clock::time_point m_nextAttempt{};
    std::optional<Clock::time_point> m_exchangeEnds;
    Backoff m_backoff;
    NameLookup m_lookup;
};

// rigctld as a source: what MakeSource builds, with the link's options open to tests.
std::unique_ptr<Source> MakeRigctldSource(LinkOptions options, Log& log);

}  // namespace kelvane::svc
