#include "service/base/log.h"

#include <cstdio>
#include <cstdlib>

#include "service/base/text.h"

namespace kelvane::svc {
namespace {

// What goes on while each condition lasts, as its reminders say.
constexpr std::array<const char*, static_cast<std::size_t>(Condition::kCount)> kOngoing{
    "still retrying",                // kSource
    "still asking at every poll",    // kBadFrequency
    "still asking at every poll",    // kBadTransmit
    "still coming",                  // kBadDatagram
    "still so",                      // kNoTransmitState
    "still waiting for receive",     // kHeldForTransmit
    "still retrying",                // kOutput
    "still waiting for an antenna",  // kBlocked
    "still coming",                  // kForeignSender
};

}  // namespace

std::string SpokenDuration(std::chrono::steady_clock::duration d) {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(d).count();
    if (ms < 1000) return std::to_string(ms) + " ms";
    const auto s = ms / 1000;
    if (s < 60) return std::to_string(s) + " s";
    if (s < 3600) return std::to_string(s / 60) + " min " + std::to_string(s % 60) + " s";
    return std::to_string(s / 3600) + " h " + std::to_string(s % 3600 / 60) + " min";
}

Log::Log() {
    // Under systemd the journal reads "<N>" as the line's priority and stamps
    // the time itself; in a terminal the program's name says who speaks.
    const bool journal = std::getenv("JOURNAL_STREAM") != nullptr;
    m_sink = [journal](int priority, const std::string& text) {
        const std::string line = Utf8Text(text);
        if (journal)
            std::fprintf(stderr, "<%d>%s\n", priority, line.c_str());
        else
            std::fprintf(stderr, "kelvane: %s\n", line.c_str());
        std::fflush(stderr);
    };
}

Log::Log(Sink sink, Clock clock)
    : m_sink([sink = std::move(sink)](int priority, const std::string& line) { sink(priority, Utf8Text(line)); }),
      m_now(std::move(clock)) {}

Log::Log(const Log& base, const std::string& prefix)
    : m_sink([sink = base.m_sink, prefix](int priority, const std::string& line) { sink(priority, prefix + line); }),
      m_now(base.m_now) {
    verbose = base.verbose.load();
}

bool Log::Begin(Condition c, int priority, std::string text) {
    const std::lock_guard lock(m_mutex);
    State& s = Slot(c);
    s.text = std::move(text);
    s.priority = priority;
    if (s.active) {
        Remind(s, c);
        return false;
    }
    s.active = true;
    s.since = s.lastLine = m_now();
    m_sink(priority, s.text);
    return true;
}

void Log::Still(Condition c) {
    const std::lock_guard lock(m_mutex);
    Remind(Slot(c), c);
}

void Log::Remind(State& s, Condition c) {
    if (!s.active) return;
    const auto now = m_now();
    if (now - s.lastLine < kRemindEvery) return;
    s.lastLine = now;
    m_sink(s.priority,
           s.text + " (for " + SpokenDuration(now - s.since) + "; " + kOngoing[static_cast<std::size_t>(c)] + ")");
}

bool Log::End(Condition c, const std::string& text) {
    const std::lock_guard lock(m_mutex);
    State& s = Slot(c);
    if (!s.active) return false;
    s.active = false;
    m_sink(kInfo, text + " (after " + SpokenDuration(m_now() - s.since) + ")");
    return true;
}

}  // namespace kelvane::svc
