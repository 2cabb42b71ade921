// What a host reading does: the field's text, and through it the port.

#include <gtest/gtest.h>

#include <limits>
#include <optional>

#include "core/frequency.h"
#include "switching_fixture.h"

using namespace kelvane;
using namespace kelvane::testing;

namespace {
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
}  // namespace

TEST(HostFrequencyText, GivesKilohertzToThreePlacesOrNothing) {
    const struct {
        double hertz;
        bool autoOn;
        std::optional<std::string> text;
    } cases[] = {
        {14000000, true, "14000.000"}, {7200000.4, true, "7200.000"},  // rounded to the hertz
        {7200000.5, true, "7200.001"}, {0.0001, true, "0.000"},        // not exactly zero, so it is shown
        {-7100000, true, "-7100.000"}, {1e-300, true, "0.000"},         {0, true, std::nullopt},
        {-0.0, true, std::nullopt},    {kNaN, true, std::nullopt},      {kInf, true, std::nullopt},
        {-kInf, true, std::nullopt},   {14000000, false, std::nullopt},  // Auto off
        {kNaN, false, std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(HostFrequencyText(c.hertz, c.autoOn), c.text) << c.hertz << " " << c.autoOn;
    // 1e300 Hz is 1e297 kHz: "%.3f" spells it out in 298 digits, and 1e308 Hz
    // still converts without overflowing to infinity.
    EXPECT_EQ(HostFrequencyText(1e300, true).value_or("").size(), 298u + 4u);
    EXPECT_EQ(HostFrequencyText(-1e300, true).value_or("").size(), 1u + 298u + 4u);
    EXPECT_TRUE(HostFrequencyText(1.7e308, true).has_value());
}

// Every reading is set, changed or not, so the port is rewritten while the
// host stays inside a band; a reading that sets nothing writes nothing.
TEST(OnHostFrequency, RewritesThePortOnEveryReadingAndOnlyWithAutoOn) {
    Station s;
    s.bands.low[9] = -1;  // where a text that reads as no number would land
    s.bands.high[9] = 1;
    for (int i = 0; i < 3; ++i) s.core.OnHostFrequency(14000000);
    EXPECT_EQ(RecordedWrites(), std::vector<PortWrite>(3, {0x278, 0x01}));
    EXPECT_EQ(s.view.freqText, "14000.000");

    RecordedWrites().clear();
    for (double hertz : {0.0, kNaN, kInf, -kInf, -7000000.0, 1e300}) s.core.OnHostFrequency(hertz);
    EXPECT_TRUE(RecordedWrites().empty());
    EXPECT_EQ(s.view.fieldSets, 3 + 2) << "only -7000000 and 1e300 reach the field";

    s.view.autoBox = false;
    s.core.OnAutoClicked();
    s.core.OnHostFrequency(7100000);
    EXPECT_TRUE(RecordedWrites().empty());
    EXPECT_NE(s.view.freqText, "7100.000");

    s.view.autoBox = true;
    s.core.OnAutoClicked();
    s.core.OnHostFrequency(7100000);
    EXPECT_EQ(s.view.freqText, "7100.000");
    EXPECT_EQ(RecordedWrites(), (std::vector<PortWrite>{{0x278, 0x01}}));
}
