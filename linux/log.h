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
    explicit Log(Sink sink) : sink_(std::move(sink)) {}

    void Error(const std::string& text) { sink_(kError, text); }
    void Warn(const std::string& text) { sink_(kWarning, text); }
    void Info(const std::string& text) { sink_(kInfo, text); }
    void Verbose(const std::string& text) {
        if (verbose) sink_(kDebug, text);
    }

    // Logs only when `kind` is not already active; returns whether it logged.
    bool Once(const std::string& kind, int priority, const std::string& text);
    // Ends `kind`; true when it was active.
    bool Clear(const std::string& kind) { return active_.erase(kind) > 0; }
    // Ends every kind starting with `prefix`.
    void ClearPrefix(const std::string& prefix);

    bool verbose = false;

private:
    Sink sink_;
    std::set<std::string> active_;
};

}  // namespace kelvane::svc
