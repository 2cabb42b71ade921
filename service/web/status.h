#pragma once
// The state file the service keeps in its runtime directory, and `kelvane
// status [--json]`, which reads it without talking to the service.

#include <chrono>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "service/web/state.h"

namespace kelvane::web {

using WallClock = std::chrono::system_clock::time_point;

// The service rewrites the file on every change and at least every
// kStateRefresh; a file older than kStaleAfter was left by a service that
// has stopped updating it (hung, or killed without cleaning up).
inline constexpr std::chrono::seconds kStateRefresh{5};
inline constexpr std::chrono::seconds kStaleAfter{15};

// Replaces `path` atomically (a temporary beside it, renamed over it), so a
// reader never sees half a file. False with the system's reason on failure.
bool WriteStateFile(const std::string& path, const std::vector<RadioState>& radios, int pid, WallClock now,
                    std::string& why);

struct StatusEnv {
    WallClock now;
    std::function<bool(int pid)> alive;
};
StatusEnv RealStatusEnv();

// Exit codes: 0 running; 3 no service running; 4 the state is stale; 1 the file is unreadable.
int RunStatusCommand(const std::string& path, bool json, const StatusEnv& env, std::ostream& out, std::ostream& err);

}  // namespace kelvane::web
