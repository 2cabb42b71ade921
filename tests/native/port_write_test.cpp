#include <gtest/gtest.h>

#include "switching_fixture.h"

using namespace kelvane;
using namespace kelvane::testing;

TEST(WritePortByte, MasksTheValueToAByteAndTheAddressTo16BitsOnEitherRoute) {
    const struct {
        std::int32_t addr;
        std::uint32_t value;
        PortWrite expected;
    } cases[] = {
        {0x278, 8, {0x278, 0x08}},        {0x278, 0x1FF, {0x278, 0xFF}}, {0x12378, 0x100, {0x2378, 0x00}},
        {-1, 0xFFFFFFFF, {0xFFFF, 0xFF}}, {0x3BC, 0x80, {0x3BC, 0x80}},
    };
    for (const auto& c : cases) {
        for (bool nt : {false, true}) {
            RecordedWrites().clear();
            FakeDriver driver;
            driver.bound = true;
            PortWriter port(driver, &RecordOut);
            port.m_bNT = nt;
            port.WritePortByte(c.addr, c.value);
            const auto& seen = nt ? driver.writes : RecordedWrites();
            const auto& unused = nt ? RecordedWrites() : driver.writes;
            ASSERT_EQ(seen.size(), 1u);
            EXPECT_EQ(seen[0], c.expected) << "nt=" << nt;
            EXPECT_TRUE(unused.empty()) << "nt=" << nt;
        }
    }
}

TEST(WritePortByte, SelectingAnAntennaWritesItsByteToTheConfiguredPort) {
    Station s;
    s.core.SetAntenna(3);
    ASSERT_EQ(RecordedWrites().size(), 1u);
    EXPECT_EQ(RecordedWrites()[0], PortWrite(0x278, 0x08));
    EXPECT_EQ(s.view.nowSelection, 3);
}

// The NT family never falls back to the `out` route, bound library or not.
TEST(WritePortByte, NtWithoutLibraryStillUpdatesTheDisplay) {
    Station s;
    s.port.m_bNT = true;
    s.Type("21200");
    EXPECT_TRUE(RecordedWrites().empty());
    EXPECT_TRUE(s.driver.writes.empty());
    EXPECT_EQ(s.view.nowSelection, 0);
}
