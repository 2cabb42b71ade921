#include "service/web/status.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <ostream>
#include <sstream>

#include "service/base/platform.h"
#include "settings/file_io.h"

namespace kelvane::web {
namespace {

using nlohmann::json;

constexpr int kRunning = 0, kUnreadable = 1, kNotRunning = 3, kStale = 4;

const RadioState* HolderOf(int antenna, const std::vector<RadioState>& all) {
    for (const auto& o : all)
        if (o.antenna && o.antenna->number == antenna) return &o;
    return nullptr;
}

std::string Describe(const RadioState& r, const std::vector<RadioState>& all) {
    std::ostringstream s;
    // Whole hertz as MHz, without the process locale's decimal comma.
    char mhz[48] = "no frequency";
    if (std::isfinite(r.frequency_hz) && r.frequency_hz >= 0 && r.frequency_hz < 1e15) {
        const auto hz = static_cast<long long>(std::llround(r.frequency_hz));
        std::snprintf(mhz, sizeof mhz, "%lld.%06lld MHz", hz / 1000000, hz % 1000000);
    }
    s << "Radio " << r.name << ": " << mhz << ", ";
    s << (r.band ? "band " + std::to_string(r.band->number) + " (" + r.band->name + ")" : std::string("no band"));
    if (r.antenna) {
        char byte[8];
        std::snprintf(byte, sizeof byte, "0x%02X", r.antenna->byte);
        s << ", antenna " << r.antenna->number << " (" << r.antenna->name << ", " << byte << ")";
        if (!r.choices.empty() && r.choices.front() != r.antenna->number) {
            const bool listed = std::find(r.choices.begin(), r.choices.end(), r.antenna->number) != r.choices.end();
            const RadioState* holder = HolderOf(r.choices.front(), all);
            s << (listed ? ", an alternate" : ", not on its band's list") << " (first choice " << r.choices.front()
              << (holder ? " (" + holder->antenna->name + "), held by " + holder->name : std::string(", free")) << ")";
        }
    } else {
        s << ", no antenna";
        const RadioState* holder = r.choices.empty() ? nullptr : HolderOf(r.choices.front(), all);
        if (r.blockedBy && !r.blockedBy->empty()) {
            s << ", blocked by " << *r.blockedBy;
            if (holder && holder->name == *r.blockedBy)
                s << ", which holds its first choice " << r.choices.front() << " (" << holder->antenna->name << ")";
        } else if (!r.choices.empty()) {
            s << ", waiting for its next receive poll";
        }
    }
    s << "\n  "
      << (!r.transmitKnown ? "transmit state unknown"
          : r.transmitting ? "TRANSMITTING"
                           : "receiving")
      << ", Auto " << (r.automatic ? "on" : "off") << "\n";
    if (r.held)
        s << "  antenna " << *r.held << " waits "
          << (r.heldWhy.empty() || r.heldWhy == "transmitting" ? "for receive" : "(" + r.heldWhy + ")") << "\n";
    if (r.inhibit) s << "  inhibit: output line " << *r.inhibit << (r.antenna ? ", clear" : ", set") << "\n";
    s << "  source: " << r.source.spec << " (" << r.source.state << ")\n";
    s << "  output: " << r.output.spec << " (" << r.output.state << ")\n";
    return s.str();
}

}  // namespace

bool WriteStateFile(const std::string& path, const std::vector<RadioState>& radios, int pid, WallClock now,
                    std::string& why) {
    json doc = StateJson(radios);
    doc["pid"] = pid;
    doc["written"] = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
    std::string error;
    if (fileio::WriteFileAtomically(path, doc.dump() + "\n", 0644, error)) return true;
    why = path + ": " + error;
    return false;
}

StatusEnv RealStatusEnv() { return {std::chrono::system_clock::now(), svc::ProcessRuns}; }

int RunStatusCommand(const std::string& path, bool asJson, const StatusEnv& env, std::ostream& out, std::ostream& err) {
    auto none = [&](const std::string& why) {
        if (asJson)
            out << json{{"running", false}, {"reason", why}}.dump() << "\n";
        else
            out << "kelvane: no service is running (" << why << ")\n";
        return kNotRunning;
    };
    if (std::string why; svc::KindOf(path, why) == svc::PathKind::kMissing) return none("no state file " + path);
    std::ifstream file(path);
    if (!file) {
        err << "kelvane: status: cannot read " << path << ": " << std::strerror(errno) << "\n";
        return kUnreadable;
    }
    std::stringstream bytes;
    bytes << file.rdbuf();
    const json doc = json::parse(bytes.str(), nullptr, false);
    std::vector<RadioState> radios;
    if (doc.is_discarded() || !doc.contains("pid") || !doc["pid"].is_number_integer() || !doc.contains("written") ||
        !doc["written"].is_number_integer() || !ParseState(doc, radios)) {
        err << "kelvane: status: " << path << " is not a state file the service wrote\n";
        return kUnreadable;
    }
    const int pid = doc["pid"].get<int>();
    if (pid <= 0 || !env.alive(pid))
        return none("the service that wrote " + path + ", pid " + std::to_string(pid) + ", has ended");
    const auto written = WallClock(std::chrono::milliseconds(doc["written"].get<std::int64_t>()));
    const auto age = std::chrono::duration_cast<std::chrono::seconds>(env.now - written);
    const bool stale = age > kStaleAfter || age < -kStaleAfter;
    if (asJson) {
        json shown = StateJson(radios);
        shown["running"] = true;
        shown["pid"] = pid;
        shown["age_s"] = age.count();
        shown["stale"] = stale;
        out << shown.dump() << "\n";
    } else {
        out << "kelvane: running (pid " << pid << "), state of " << age.count() << " s ago\n";
        if (stale)
            out << "kelvane: the state is STALE: the service has not updated it for " << age.count()
                << " s (it updates it at least every " << kStateRefresh.count() << " s); it may be hung\n";
        for (const auto& r : radios) out << Describe(r, radios);
    }
    return stale ? kStale : kRunning;
}

}  // namespace kelvane::web
