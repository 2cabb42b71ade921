// The hold on an output device, as both editions use it: a fake device and a
// fake wrapping millisecond clock, one step at a time.
#include <gtest/gtest.h>

#include <string>

#include "outputs/output_hold.h"

using namespace kelvane::outputs;

namespace {

struct Board {
    std::string absent;  // why an open fails; empty: the board is there
    bool jammed = false;
    std::string calls;
};

class FakeDevice final : public OutputDevice {
public:
    explicit FakeDevice(Board& b) : m_b(b) {}
    bool Open(std::string& why) override {
        m_b.calls += m_b.absent.empty() ? "open " : "open! ";
        why = m_b.absent;
        return m_b.absent.empty();
    }
    std::string Name() const override { return "S1"; }
    bool Write(const OutputEvent& e, std::string& why) override {
        m_b.calls += (m_b.jammed ? "write! " : "write ") + std::to_string(e.byte) + " ";
        why = "jammed";
        return !m_b.jammed;
    }
    void Close() override { m_b.calls += "close "; }

private:
    Board& m_b;
};

std::string Describe(const OutputReport& r) {
    static const char* const kKinds[] = {"found", "back", "absent", "lost", "late"};
    return std::string(kKinds[r.kind]) + (r.name.empty() ? "" : " " + r.name) + (r.why.empty() ? "" : " " + r.why);
}

}  // namespace

TEST(OutputHold, RetriesAtMostOncePerPeriodAndReportsEachChangeOnce) {
    Board board;
    std::uint32_t now = 0;
    std::string reports;
    {
        OutputHold hold(
            std::make_unique<FakeDevice>(board), [&] { return now; },
            [&](const OutputReport& r) { reports += Describe(r) + "; "; });
        enum Act { kService, kWant, kStalled };
        const struct {
            std::uint32_t now;
            const char* absent;
            bool jammed;
            Act act;
            int value;
            const char *calls, *reports;
            std::uint32_t retryIn;
            bool pending;
            int lastWritten;  // -1: nothing yet
        } steps[] = {
            // Absent at start, with the clock about to wrap.
            {0xFFFFFE00u, "unplugged", false, kService, 0, "open! ", "absent unplugged; ", 1000, false, -1},
            {0xFFFFFFFFu, "unplugged", false, kWant, 1, "", "", 489, true, -1},
            {0x000001E7u, "", false, kService, 0, "", "", 1, true, -1},  // plugged in; the second is not over
            {0x000001E8u, "", false, kService, 0, "open write 1 ", "found S1; ", 0, false, 1},  // across the wrap
            {0x00000201u, "", false, kWant, 2, "write 2 ", "", 0, false, 2},
            {0x00000202u, "", false, kWant, 2, "write 2 ", "", 0, false, 2},  // asked again: written again
            {0x00000203u, "", false, kService, 0, "", "", 0, false, 2},
            {0x00000300u, "", true, kWant, 3, "write! 3 close ", "lost S1 jammed; ", 1000, true, 2},
            {0x00000301u, "", false, kService, 0, "", "", 999, true, 2},
            {0x00000700u, "", false, kService, 0, "open write 3 ", "back S1; ", 0, false, 3},
            {0x00000800u, "gone", true, kWant, 4, "write! 4 close ", "lost S1 jammed; ", 1000, true, 3},
            {0x00000C00u, "gone", false, kService, 0, "open! ", "absent gone; ", 1000, true, 3},
            {0x00001000u, "gone", false, kService, 0, "open! ", "", 1000, true, 3},  // same reason: not again
            {0x00001400u, "denied", false, kWant, 5, "open! ", "absent denied; ", 1000, true, 3},
            {0x00001800u, "", false, kService, 0, "open write 5 ", "back S1; ", 0, false, 5},
            // A call that hung: closed without a word, the byte goes again a second later.
            {0x00001900u, "", false, kStalled, 0, "close ", "", 1000, true, 5},
            {0x00001CE7u, "", false, kService, 0, "", "", 1, true, 5},
            {0x00001CE8u, "", false, kService, 0, "open write 5 ", "back S1; ", 0, false, 5},
        };
        for (const auto& s : steps) {
            SCOPED_TRACE(testing::Message() << std::hex << "at 0x" << s.now);
            now = s.now;
            board.absent = s.absent;
            board.jammed = s.jammed;
            board.calls.clear();
            reports.clear();
            if (s.act == kWant) hold.Want({static_cast<std::uint8_t>(s.value), 0, {}});
            if (s.act == kStalled) hold.Stalled();
            if (s.act != kStalled) hold.Service();
            EXPECT_EQ(board.calls, s.calls);
            EXPECT_EQ(reports, s.reports);
            EXPECT_EQ(hold.MsUntilRetry(), s.retryIn);
            EXPECT_EQ(hold.Pending(), s.pending);
            EXPECT_EQ(hold.LastWritten() ? hold.LastWritten()->byte : -1, s.lastWritten);
        }
        board.calls.clear();
    }
    EXPECT_EQ(board.calls, "close ");  // an open device is released with the hold
}
