#pragma once
// One line per event on standard error. A condition that lasts (a rig that is
// gone, a device that is absent) is logged when it begins and when it ends,
// and while it lasts at most once a minute, never once per poll. Safe to use
// from several threads: a polled source speaks from a thread of its own.

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>

namespace kelvane::svc {

// Every condition the service can be in; one slot each, so what the log keeps is bounded.
enum class Condition {
    kSource,           // the source cannot be reached, stopped answering or went quiet
    kBadFrequency,     // asked for the frequency, the source answered something that is none
    kBadTransmit,      // asked for the transmit state, the source answered something that is none
    kBadDatagram,      // datagrams that are no RadioInfo
    kNoTransmitState,  // the source stopped (or never started) reporting the transmit state
    kHeldForTransmit,  // a band change waits for receive
    kOutput,           // the output device is absent or lost
    kBlocked,          // every antenna of the radio's band is held by another radio
    kForeignSender,    // datagrams from senders a udp source's from= leaves out
    kBroker,           // the MQTT broker cannot be reached
    kBadCommand,       // commands on the station bus that change nothing
    kCount
};

class Log {
public:
    using Sink = std::function<void(int priority, const std::string& line)>;
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    // Priorities as syslog numbers them; under systemd they reach the journal.
    enum { kError = 3, kWarning = 4, kInfo = 6, kDebug = 7 };
    static constexpr std::chrono::minutes kRemindEvery{1};

    // Every line is UTF-8 when it reaches the sink (see Utf8Text).
    Log();  // standard error
    explicit Log(Sink sink, Clock clock = std::chrono::steady_clock::now);
    // One radio's log among several: the same lines, each after `prefix`, with
    // conditions of its own, so that one radio's trouble never ends another's.
    Log(const Log& base, const std::string& prefix);

    void Error(const std::string& text) { Line(kError, text); }
    void Warn(const std::string& text) { Line(kWarning, text); }
    void Info(const std::string& text) { Line(kInfo, text); }
    void Verbose(const std::string& text) {
        if (verbose) Line(kDebug, text);
    }

    // Starts `c` with a line; when it is already on, `text` becomes what its
    // reminders say, and one is due a minute after its last line. True when it started now.
    bool Begin(Condition c, int priority, std::string text);
    // `c` still holds: a reminder when one is due; nothing when it is off.
    void Still(Condition c);
    // Ends `c` with `text` and how long it lasted; true when it was on.
    bool End(Condition c, const std::string& text);
    bool Active(Condition c) const {
        const std::lock_guard lock(m_mutex);
        return Slot(c).active;
    }

    std::atomic<bool> verbose = false;

private:
    struct State {
        bool active = false;
        int priority = kInfo;
        std::string text;
        std::chrono::steady_clock::time_point since, lastLine;
    };
    void Line(int priority, const std::string& text) {
        const std::lock_guard lock(m_mutex);
        m_sink(priority, text);
    }
    void Remind(State& s, Condition c);
    State& Slot(Condition c) { return m_conditions[static_cast<std::size_t>(c)]; }
    const State& Slot(Condition c) const { return m_conditions[static_cast<std::size_t>(c)]; }

    mutable std::mutex m_mutex;
    Sink m_sink;
    Clock m_now = std::chrono::steady_clock::now;
    std::array<State, static_cast<std::size_t>(Condition::kCount)> m_conditions{};
};

// "250 ms", "42 s", "3 min 5 s", "2 h 10 min": how long a condition has lasted.
std::string SpokenDuration(std::chrono::steady_clock::duration d);

}  // namespace kelvane::svc
