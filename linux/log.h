#pragma once
// One line per event on standard error. A condition that lasts (a rig that is
// gone, a device that is absent) is logged when it begins and when it ends,
// never once per poll.

#include <functional>
#include <set>
#include <string>

namespace kelvane::svc {

class Log {
public:
    using Sink = std::function<void(int priority, const std::string& line)>;
    // Priorities as syslog numbers them; under systemd they reach the journal.
    enum { kError = 3, kWarning = 4, kInfo = 6, kDebug = 7 };

    Log();  // standard error
    explicit Log(Sink sink) : m_sink(std::move(sink)) {}

    void Error(const std::string& text) { m_sink(kError, text); }
    void Warn(const std::string& text) { m_sink(kWarning, text); }
    void Info(const std::string& text) { m_sink(kInfo, text); }
    void Verbose(const std::string& text) {
        if (verbose) m_sink(kDebug, text);
    }

    // Logs only when `kind` is not already active; returns whether it logged.
    bool Once(const std::string& kind, int priority, const std::string& text);
    // Ends `kind`; true when it was active.
    bool Clear(const std::string& kind) { return m_active.erase(kind) > 0; }
    // Ends every kind starting with `prefix`.
    void ClearPrefix(const std::string& prefix);

    bool verbose = false;

private:
    Sink m_sink;
    std::set<std::string> m_active;
};

}  // namespace kelvane::svc
