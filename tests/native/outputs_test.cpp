#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "outputs/hid_relay.h"
#include "outputs/wire_byte.h"

using namespace kelvane::outputs;

namespace {
// "+3" switches relay 3 on, "-3" off: the reports read as the relay commands they carry.
std::string Describe(const std::vector<HidRelayReport>& reports) {
    std::string out;
    for (const auto& r : reports) {
        if (!out.empty()) out += ' ';
        const bool tailClear = r[0] == 0 && r[3] == 0 && r[4] == 0 && r[5] == 0 && r[6] == 0 && r[7] == 0 && r[8] == 0;
        if (!tailClear || (r[1] != kHidRelayOn && r[1] != kHidRelayOff)) return "malformed";
        out += (r[1] == kHidRelayOn ? '+' : '-') + std::to_string(r[2]);
    }
    return out;
}
}  // namespace

static_assert(WireByte(0x00, false) == 0x00 && WireByte(0xA5, false) == 0xA5);
static_assert(WireByte(0x00, true) == 0xFF && WireByte(0xA5, true) == 0x5A && WireByte(0xFF, true) == 0x00);

TEST(HidRelayCount, OnlyTheEightBoardNamesCount) {
    const struct {
        const char* product;
        int count;
    } cases[] = {{"USBRelay1", 1}, {"USBRelay2", 2}, {"USBRelay4", 4}, {"USBRelay8", 8},
                 {"USBRelay0", 0}, {"USBRelay9", 0}, {"USBRelay", 0},  {"USBRelay10", 0},
                 {"usbrelay2", 0}, {"", 0},          {"XUSBRelay2", 0}};
    for (const auto& c : cases) EXPECT_EQ(HidRelayCount(c.product), c.count) << c.product;
}

TEST(HidRelayStatus, SerialFromTheFirstFiveBytes) {
    const std::uint8_t full[8] = {'A', 'B', 'C', 'D', 'E', 0x11, 0x22, 0x81};
    auto s = ParseHidRelayStatus(full, sizeof full);
    EXPECT_EQ(s.serial, "ABCDE");
    const std::uint8_t padded[8] = {'Q', 'W', 0, 0, 0, 0, 0, 0x04};
    s = ParseHidRelayStatus(padded, sizeof padded);
    EXPECT_EQ(s.serial, "QW");
    s = ParseHidRelayStatus(full, 7);
    EXPECT_EQ(s.serial, "");
}

TEST(HidRelayPlan, SequencesOfBytesToReports) {
    const struct {
        int count;
        bool invert;
        std::vector<std::uint8_t> bytes;
        std::vector<std::string> expected;  // one entry per byte written
    } cases[] = {
        // First write sets every relay; an unchanged byte sends nothing.
        {8, false, {0x01, 0x01}, {"+1 -2 -3 -4 -5 -6 -7 -8", ""}},
        // One bit changes one relay, in either direction.
        {8, false, {0x00, 0x08, 0x00}, {"-1 -2 -3 -4 -5 -6 -7 -8", "+4", "-4"}},
        // All bits flip every relay.
        {8,
         false,
         {0x00, 0xFF, 0x00},
         {"-1 -2 -3 -4 -5 -6 -7 -8", "+1 +2 +3 +4 +5 +6 +7 +8", "-1 -2 -3 -4 -5 -6 -7 -8"}},
        // Two bits at once.
        {8, false, {0x81, 0x18}, {"+1 -2 -3 -4 -5 -6 -7 +8", "-1 +4 +5 -8"}},
        // Active-low: a set bit releases its relay.
        {8, true, {0x01, 0x03}, {"-1 +2 +3 +4 +5 +6 +7 +8", "-2"}},
        {2, true, {0x00, 0x02}, {"+1 +2", "-2"}},
        // Relay counts 1/2/4: bits beyond the count are ignored, also as changes.
        {1, false, {0xFF, 0xFE, 0x00}, {"+1", "-1", ""}},
        {2, false, {0x06, 0xFF, 0x01}, {"-1 +2", "+1", "-2"}},
        {4, false, {0xF0, 0x0F, 0xFF}, {"-1 -2 -3 -4", "+1 +2 +3 +4", ""}},
        // A count outside 1..8 is clamped rather than trusted.
        {0, false, {0x03}, {"+1"}},
        {12, false, {0x00}, {"-1 -2 -3 -4 -5 -6 -7 -8"}},
    };
    for (const auto& c : cases) {
        HidRelayPlan plan(c.count, c.invert);
        ASSERT_EQ(c.bytes.size(), c.expected.size());
        for (std::size_t i = 0; i < c.bytes.size(); ++i) {
            EXPECT_EQ(Describe(plan.ReportsFor(c.bytes[i])), c.expected[i])
                << "count " << c.count << " invert " << c.invert << " write " << i;
        }
    }
}

TEST(HidRelayPlan, ForgetSendsEveryRelayAgain) {
    HidRelayPlan plan(4, false);
    plan.ReportsFor(0x05);
    EXPECT_EQ(Describe(plan.ReportsFor(0x05)), "");
    plan.Forget();
    EXPECT_EQ(Describe(plan.ReportsFor(0x05)), "+1 -2 +3 -4");
    EXPECT_EQ(Describe(plan.ReportsFor(0x04)), "-1");
}

TEST(ChooseHidRelay, TheWantedBoardOrWhyNot) {
    const std::vector<HidRelayFound> found = {{"/dev/hidraw0", "Keyboard", "", "cannot open"},
                                              {"/dev/hidraw1", "USBRelay2", "", "no status"},
                                              {"/dev/hidraw2", "USBRelay8", "ZZZZZ", ""},
                                              {"/dev/hidraw3", "USBRelay4", "QWERT", ""}};
    const std::vector<HidRelayFound> unusable(found.begin(), found.begin() + 2);
    const struct {
        std::vector<HidRelayFound> found;
        const char* serial;
        int index, relays;  // index -1: none fits
        std::string why;
    } cases[] = {
        {found, "QWERT", 3, 4, ""},
        {found, "", 2, 8, ""},  // the first board with a serial
        {found, "ABCDE", -1, 0,
         "no USBRelay board with serial ABCDE (3 other boards present: /dev/hidraw1 (no status), ZZZZZ, QWERT)"},
        {{found[3]}, "ZZZZZ", -1, 0, "no USBRelay board with serial ZZZZZ (1 other board present: QWERT)"},
        {{}, "ABCDE", -1, 0, "no USBRelay board with serial ABCDE (0 other boards present)"},
        {unusable, "", -1, 0, "no USBRelay board that answers: /dev/hidraw1 (no status)"},
        {{found[0]}, "", -1, 0, "no USBRelay board"},
    };
    for (const auto& c : cases) {
        const HidRelayChoice choice = ChooseHidRelay(c.found, c.serial);
        EXPECT_EQ(choice.index ? static_cast<int>(*choice.index) : -1, c.index) << c.serial;
        EXPECT_EQ(choice.relays, c.relays) << c.serial;
        EXPECT_EQ(choice.why, c.why) << c.serial;
    }
}
