// Conditions on a clock the test moves: begin, reminders, end.
#include <gtest/gtest.h>

#include "service/base/log.h"

namespace kelvane::svc {
namespace {

TEST(Log, ConditionsBeginRemindAtMostOnceAMinuteAndEnd) {
    using namespace std::chrono_literals;
    using enum Condition;
    std::chrono::steady_clock::time_point now{};
    std::vector<std::string> lines;
    Log log([&](int, const std::string& line) { lines.push_back(line); }, [&] { return now; });
    // Seconds later; Begin, Still or End; the condition; its text; the line it logs ("" for none).
    const std::tuple<std::chrono::seconds, char, Condition, const char*, const char*> steps[] = {
        {0s, 'B', kSource, "refused", "refused"},
        {59s, 'B', kSource, "refused", ""},
        {0s, 'B', kOutput, "absent", "absent"},
        {1s, 'B', kSource, "timed out", "timed out (for 1 min 0 s; still retrying)"},
        {30s, 'S', kSource, "", ""},
        {30s, 'S', kSource, "", "timed out (for 2 min 0 s; still retrying)"},
        {5s, 'E', kSource, "answers", "answers (after 2 min 5 s)"},
        {600s, 'E', kSource, "answers", ""},
        {0s, 'B', kSource, "refused", "refused"},  // back after recovery
        {3600s, 'E', kSource, "answers", "answers (after 1 h 0 min)"},
        {0s, 'S', kOutput, "", "absent (for 1 h 11 min; still retrying)"},
    };
    for (const auto& [later, op, c, text, line] : steps) {
        now += later;
        auto expected = lines;
        if (*line) expected.push_back(line);
        op == 'B' ? (void)log.Begin(c, Log::kWarning, text) : op == 'S' ? log.Still(c) : (void)log.End(c, text);
        EXPECT_EQ(lines, expected);
    }
}

}  // namespace
}  // namespace kelvane::svc
