// The link against a real host in another process, over COM as Wine does it,
// feeding a real core.
#include <gtest/gtest.h>
#include <windows.h>
#include <ole2.h>

#include "host/host_link.h"
#include "running_host.h"
#include "sim_host_process.h"
#include "switching_fixture.h"

using namespace kelvane;
using namespace kelvane::testing;

namespace {

constexpr char kEarlierText[] = "3550.000";

// The main window as far as the link sees it: the frequency field in front of
// a core, timer 1 and the modal loop.
class Switcher final : public HostLinkView {
public:
    Switcher() {
        // Band b goes to antenna 9 - b, so each band writes a byte of its own.
        for (int b = 0; b < kBandCount; ++b) station.view.bandSelector[b] = 9 - b;
        station.view.ReadControls();
        station.view.freqText = kEarlierText;
    }

    void OnHostFrequency(double hertz) override { station.core.OnHostFrequency(hertz); }
    void OnHostLost() override {
        timerRunning = false;
        ++runEnds;
    }

    // One WM_TIMER; none come once the timer is stopped.
    void Tick() {
        if (timerRunning) link.OnHostTimer();
    }
    const std::string& Field() const { return station.view.freqText; }

    Station station;
    HostLink link{*this};
    bool timerRunning = true;
    int runEnds = 0;
};

struct Usage {
    std::uintptr_t nextHandle = 0;
    std::size_t heapBytes = 0;
};
// Wine reports no handle count, but hands out the lowest free handle slot: a
// handle leaked per retry pushes the next new handle up. Its memory counters
// do not move for small leaks either, so the heaps' busy blocks are summed.
Usage ProcessUsage() {
    Usage u;
    HANDLE probe = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    u.nextHandle = reinterpret_cast<std::uintptr_t>(probe);
    CloseHandle(probe);
    HANDLE heaps[64];
    const DWORD count = GetProcessHeaps(64, heaps);
    for (DWORD i = 0; i < count && i < 64; ++i) {
        HeapLock(heaps[i]);
        PROCESS_HEAP_ENTRY entry = {};
        while (HeapWalk(heaps[i], &entry))
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) u.heapBytes += entry.cbData;
        HeapUnlock(heaps[i]);
    }
    return u;
}

#define ASSERT_HOST_READY(host) ASSERT_TRUE((host).WaitForLine("ready")) << (host).Transcript()

}  // namespace

TEST(HostLink, RetriesSilentlyAndWithoutGrowthWhileNoHostRuns) {
    const struct {
        const char* setup;
        const char* what;
    } cases[] = {
        {"--unregister", "not registered"},
        {"--register", "registered, not running"},
    };
    for (const auto& c : cases) {
        std::string out;
        ASSERT_EQ(RunSimHost(c.setup, &out), 0u) << out;
        Switcher s;
        for (int i = 0; i < 50; ++i) s.Tick();  // lets COM set up what it keeps
        const Usage before = ProcessUsage();
        for (int i = 0; i < 5000; ++i) s.Tick();
        const Usage after = ProcessUsage();

        EXPECT_EQ(after.nextHandle, before.nextHandle) << c.what;
        // Four bytes leaked per retry would fail this.
        EXPECT_LT(after.heapBytes, before.heapBytes + 20000) << c.what;
        EXPECT_FALSE(s.link.HoldsObject()) << c.what;
        EXPECT_FALSE(s.link.m_bConnected) << c.what;
        EXPECT_TRUE(s.timerRunning) << c.what;
        EXPECT_EQ(s.runEnds, 0) << c.what;
        EXPECT_EQ(s.station.view.fieldSets, 0) << c.what;
        EXPECT_TRUE(RecordedWrites().empty()) << c.what;
    }
}

TEST(HostLink, AttachesAtTheFirstTickAfterTheHostAppears) {
    ASSERT_EQ(RunSimHost("--register"), 0u);
    Switcher s;
    s.Tick();
    s.Tick();
    ASSERT_FALSE(s.link.HoldsObject());

    SimHostProcess host("--freq 14000000");
    ASSERT_HOST_READY(host);
    s.Tick();
    EXPECT_TRUE(s.link.HoldsObject());
    EXPECT_TRUE(s.link.m_bConnected);
    EXPECT_EQ(s.Field(), "14000.000");
    EXPECT_EQ(HostReadCount(), 1.0);
}

TEST(HostLink, EveryTickFeedsTheHostFrequencyToTheCore) {
    const struct {
        const char* args;
        const char* field;
        int antenna;
    } cases[] = {
        {"--freq 14000000", "14000.000", 5},  // 20m, band 4
        {"--freq 7200000.4", "7200.000", 7},  // rounded to the hertz: the top of 40m, band 2
        {"--text 14000000", "14000.000", 5},  // a string that converts is a good read
    };
    for (const auto& c : cases) {
        SimHostProcess host(c.args);
        ASSERT_HOST_READY(host);
        Switcher s;
        for (int i = 0; i < 3; ++i) s.Tick();

        EXPECT_EQ(s.Field(), c.field) << c.args;
        EXPECT_EQ(s.station.view.fieldSets, 3) << c.args;
        EXPECT_EQ(HostReadCount(), 3.0) << c.args;
        const PortWrite expected(0x278, static_cast<std::uint8_t>(s.station.core.m_tables.m_antValue[c.antenna]));
        EXPECT_EQ(RecordedWrites(), std::vector<PortWrite>(3, expected)) << c.args;
        EXPECT_EQ(s.station.view.nowSelection, c.antenna) << c.args;
    }
}

TEST(HostLink, LosingTheHostStopsTheTimerAndEndsTheRun) {
    const struct {
        const char* args;
        bool goodReadFirst;
    } cases[] = {
        {"--text abc", false},      // does not convert to a double
        {"--fail-read", false},     // the server reports an error
        {"--freq 14000000", true},  // the host exits after one good read
    };
    for (const auto& c : cases) {
        SimHostProcess host(c.args);
        ASSERT_HOST_READY(host);
        Switcher s;
        s.Tick();
        if (c.goodReadFirst) {
            ASSERT_EQ(s.runEnds, 0) << c.args;
            ASSERT_EQ(s.Field(), "14000.000");
            ASSERT_TRUE(host.Quit()) << host.Transcript();
            s.Tick();
        }
        const std::string fieldAtLoss = c.goodReadFirst ? "14000.000" : kEarlierText;
        EXPECT_EQ(s.runEnds, 1) << c.args;
        EXPECT_FALSE(s.timerRunning) << c.args;
        EXPECT_FALSE(s.link.m_bConnected) << c.args;
        EXPECT_FALSE(s.link.HoldsObject()) << c.args;
        EXPECT_EQ(s.Field(), fieldAtLoss) << c.args;
        s.Tick();
        EXPECT_EQ(s.runEnds, 1) << c.args;
    }
}
