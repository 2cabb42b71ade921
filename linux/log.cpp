#include "linux/log.h"

#include <cstdio>
#include <cstdlib>

namespace kelvane::svc {

Log::Log() {
    // Under systemd the journal reads "<N>" as the line's priority and stamps
    // the time itself; in a terminal the program's name says who speaks.
    const bool journal = std::getenv("JOURNAL_STREAM") != nullptr;
    m_sink = [journal](int priority, const std::string& line) {
        if (journal)
            std::fprintf(stderr, "<%d>%s\n", priority, line.c_str());
        else
            std::fprintf(stderr, "kelvane: %s\n", line.c_str());
        std::fflush(stderr);
    };
}

bool Log::Once(const std::string& kind, int priority, const std::string& text) {
    if (!m_active.insert(kind).second) return false;
    m_sink(priority, text);
    return true;
}

void Log::ClearPrefix(const std::string& prefix) {
    for (auto it = m_active.lower_bound(prefix); it != m_active.end() && it->compare(0, prefix.size(), prefix) == 0;)
        it = m_active.erase(it);
}

}  // namespace kelvane::svc
