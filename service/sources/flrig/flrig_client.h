#pragma once
// flrig's XML-RPC over HTTP: the frequency (rig.get_vfo) and the transmit state
// (rig.get_ptt), each call bounded by the reply timeout. A lost call backs off
// (100 ms doubling to 2 s) before the next connection attempt, as the rigctld
// link does; a reply that is not what flrig sends is refused with the reason.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "service/base/net.h"
#include "service/sources/backoff.h"
#include "service/platform/linux/name_lookup.h"
#include "service/sources/wire_text.h"

namespace kelvane::svc {

constexpr const char* kFlrigPort = "12345";

// "flrig", "flrig:HOST" or "flrig:HOST:PORT" ([IPv6] in brackets); localhost
// and flrig's port by default.
bool ParseFlrigSpec(std::string_view text, Endpoint& out, std::string& why);

// An XML-RPC methodResponse, read strictly: one param whose value is a string
// (typed or bare) or an int (<i4> or <int>), or a fault with its faultString.
struct XmlRpcValue {
    enum Kind { kString, kInt, kFault, kBad } kind = kBad;
    std::string text;         // the string, the faultString, or why it is bad
    std::int64_t number = 0;  // the int
};
XmlRpcValue ReadXmlRpcResponse(std::string_view body);

struct FlrigOptions {
    Endpoint endpoint{"localhost", kFlrigPort};
    std::chrono::milliseconds replyTimeout{1000};
    std::chrono::milliseconds firstBackoff{100};
    std::chrono::milliseconds maxBackoff{2000};
    std::size_t maxReply = 16 * 1024;  // a longer body is no flrig reply
};

struct FlrigAnswer {
    // kDown: no reply (refused, closed, timed out, or still backing off); the
    // connection is dropped. kBad: a reply, but not a value flrig sends.
    enum Kind { kValue, kBad, kDown } kind = kDown;
    std::uint64_t value = 0;  // hertz, or the transmit state (0 or 1)
    std::string why;          // for kBad and kDown
};

class FlrigClient {
public:
    using Clock = std::chrono::steady_clock;
    explicit FlrigClient(FlrigOptions options, std::function<Clock::time_point()> now = Clock::now);
    ~FlrigClient();
    FlrigClient(const FlrigClient&) = delete;
    FlrigClient& operator=(const FlrigClient&) = delete;

    FlrigAnswer Frequency();  // hertz
    FlrigAnswer Ptt();        // 1 while transmitting

    // Counts the times flrig began answering (at the first reply, and after each
    // loss), so that what is decided once per connection can tell them apart.
    std::uint64_t ConnectionNumber() const { return m_connections; }
    bool Down() const { return m_down; }
    // Between a loss and the next attempt: a call now would only say so.
    bool BackingOff() const { return !m_stream.Connected() && m_now() < m_nextAttempt; }
    std::string Where() const { return m_options.endpoint.host + ":" + m_options.endpoint.port; }

private:
    // The method's value, or kBad/kDown with the reason in `text`.
    FlrigAnswer Call(const char* method, XmlRpcValue& value);
    // The HTTP exchange alone: kValue with the status and body, or kDown.
    FlrigAnswer Exchange(const char* method, int& status, std::string& body);
    bool Usable();
    FlrigAnswer Lost(std::string why);

    FlrigOptions m_options;
    std::function<Clock::time_point()> m_now;
    StreamSocket m_stream;
    NameLookup m_lookup;
    bool m_down = true;
    std::uint64_t m_connections = 0;
    Clock::time_point m_nextAttempt{};
    Backoff m_backoff{m_options.firstBackoff, m_options.maxBackoff};
};

}  // namespace kelvane::svc
