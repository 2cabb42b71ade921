#include <gtest/gtest.h>

#include "switching_fixture.h"

using namespace kelvane;
using namespace kelvane::testing;

namespace {
std::vector<PortWrite> g_driverWrites;
void KV_STDCALL FakeDriverOutPB(std::uint16_t port, std::uint8_t value) { g_driverWrites.emplace_back(port, value); }
}  // namespace

TEST(WritePortByte, MasksTheValueToAByteAndTheAddressTo16Bits) {
    const struct {
        std::int32_t addr;
        std::uint32_t value;
        PortWrite expected;
    } cases[] = {
        {0x278, 8, {0x278, 0x08}},        {0x278, 0x1FF, {0x278, 0xFF}}, {0x12378, 0x100, {0x2378, 0x00}},
        {-1, 0xFFFFFFFF, {0xFFFF, 0xFF}}, {0x3BC, 0x80, {0x3BC, 0x80}},
    };
    for (const auto& c : cases) {
        for (int nt : {0, 1}) {
            RecordedWrites().clear();
            g_driverWrites.clear();
            PortDriverBinding binding;
            binding.handle = &binding;  // any non-null handle
            binding.slots[kDriverOutPB] = reinterpret_cast<AnyProc>(&FakeDriverOutPB);
            PortWriter port(binding, &RecordOut);
            port.m_bNT = nt;
            port.WritePortByte(c.addr, c.value);
            const auto& seen = nt ? g_driverWrites : RecordedWrites();
            const auto& unused = nt ? RecordedWrites() : g_driverWrites;
            ASSERT_EQ(seen.size(), 1u);
            EXPECT_EQ(seen[0], c.expected) << "nt=" << nt;
            EXPECT_TRUE(unused.empty()) << "nt=" << nt;
        }
    }
}

TEST(WritePortByte, NtRouteDropsTheWriteUnlessHandleAndSlotAreBound) {
    const struct {
        bool handle;
        bool slot;
        bool written;
    } cases[] = {
        {true, true, true},
        {true, false, false},
        {false, true, false},
        {false, false, false},
    };
    for (const auto& c : cases) {
        RecordedWrites().clear();
        g_driverWrites.clear();
        PortDriverBinding binding;
        if (c.handle) binding.handle = &binding;
        if (c.slot) binding.slots[kDriverOutPB] = reinterpret_cast<AnyProc>(&FakeDriverOutPB);
        PortWriter port(binding, &RecordOut);
        port.m_bNT = 1;
        port.WritePortByte(0x278, 4);
        EXPECT_EQ(g_driverWrites.size(), c.written ? 1u : 0u) << c.handle << c.slot;
        EXPECT_TRUE(RecordedWrites().empty());  // never falls back to the direct route
    }
}

TEST(WritePortByte, SelectingAnAntennaWritesItsByteToTheConfiguredPort) {
    Station s;
    s.core.SetAntenna(3);
    ASSERT_EQ(RecordedWrites().size(), 1u);
    EXPECT_EQ(RecordedWrites()[0], PortWrite(0x278, 0x08));
    EXPECT_EQ(s.view.nowSelection, 3);
}

TEST(WritePortByte, NtWithoutLibraryStillUpdatesTheDisplay) {
    Station s;
    s.port.m_bNT = 1;
    s.Type("21200");
    EXPECT_TRUE(RecordedWrites().empty());
    EXPECT_EQ(s.view.nowSelection, 0);
}
