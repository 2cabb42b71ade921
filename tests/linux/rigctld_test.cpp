// Against the real rigctld (the dummy rig), polled one poll at a time.
#include <gtest/gtest.h>

#include <iostream>

#include "service/station/poll_loop.h"
#include "service/sources/rigctld/rigctld_link.h"
#include "tests/linux/helpers.h"

namespace kelvane::svc::test {
namespace {

struct Station4 {
    explicit Station4(int port, Interlock mode = Interlock::kAuto, std::chrono::milliseconds timeout = 1000ms)
        : source(MakeRigctldSource(LinkOptions{Endpoint{"127.0.0.1", std::to_string(port)}, timeout}, logs.log)),
          output(std::make_unique<Recorder>(writes, &present), "recorder", logs.log, 0ms),
          loop(*source, output, logs.log, mode, DemoStation()) {}
    ~Station4() {
        if (::testing::Test::HasFailure())
            for (const auto& line : logs.lines) std::cerr << "log: " << line << "\n";
    }
    // Antennas (1-10) written so far.
    std::vector<int> Antennas() const {
        std::vector<int> out;
        for (const auto& w : writes) out.push_back(w.antenna + 1);
        return out;
    }
    // Two more polls answered in full, whatever reconnecting that takes.
    bool PollTwice() {
        const auto target = loop.AnsweredPolls() + 2;
        return Eventually([&] { return loop.AnsweredPolls() >= target; }, [&] { loop.PollOnce(); });
    }
    bool PollUntilAntenna(int antenna) {
        return Eventually([&] { return !writes.empty() && writes.back().antenna + 1 == antenna; },
                          [&] { loop.PollOnce(); });
    }
    LogLines logs;
    std::vector<OutputEvent> writes;
    bool present = true;
    std::unique_ptr<Source> source;
    OutputChannel output;
    PollLoop loop;
};

TEST(Rigctld, FrequencySwitchesAndTransmitHoldsTheChangeUntilReceive) {
    Rigctld rig(FreePort());
    Station4 s(rig.port());
    struct Step {
        const char* command;
        std::vector<int> antennas;  // after two polls
        bool present = true;        // the output device, from this step on
    } steps[] = {
        {"F 7100000", {3}},      // 40m
        {"F 7200000", {3}},      // upper edge, same band: no second write
        {"F 14000000", {3, 5}},  // lower edge of 20m
        {"F 0", {3, 5}},         // no frequency
        {"F 9000000", {3, 5}},   // between bands
        {"T 1", {3, 5}},         // transmit
        {"F 21200000", {3, 5}},  // band change held
        {"F 28500000", {3, 5}},  // and another
        {"T 0", {3, 5, 9}},      // receive: the latest band is switched
        {"F 50100000", {3, 5, 9, 10}},
        {"F 7100000", {3, 5, 9, 10}, false},  // lost at this write
        {"F 14100000", {3, 5, 9, 10, 5}},     // back at a band change: the new byte only
    };
    for (const auto& step : steps) {
        ASSERT_EQ(rig.Ask(step.command), "RPRT 0") << step.command;
        s.present = step.present;
        ASSERT_TRUE(s.PollTwice());
        EXPECT_EQ(s.Antennas(), step.antennas) << "after " << step.command;
    }
    EXPECT_EQ(s.writes.back().byte, 5);
    EXPECT_TRUE(s.logs.Has("waits for receive"));
    EXPECT_TRUE(s.logs.Has("the held change to antenna 9"));
}

// A board lost and back during transmit is not written (its relays would
// switch under power) until the rig is on receive.
TEST(Rigctld, AnOutputBackDuringTransmitWaitsForReceive) {
    Rigctld rig(FreePort());
    Station4 s(rig.port());
    ASSERT_EQ(rig.Ask("F 7100000"), "RPRT 0");
    ASSERT_TRUE(s.PollUntilAntenna(3));
    s.present = false;
    ASSERT_EQ(rig.Ask("F 14100000"), "RPRT 0");
    ASSERT_TRUE(s.PollTwice());
    EXPECT_FALSE(s.output.DeviceOpen());
    ASSERT_EQ(rig.Ask("T 1"), "RPRT 0");
    s.present = true;
    ASSERT_TRUE(s.PollTwice());
    EXPECT_EQ(s.Antennas(), std::vector<int>{3});
    ASSERT_EQ(rig.Ask("T 0"), "RPRT 0");
    ASSERT_TRUE(s.PollTwice());
    EXPECT_EQ(s.Antennas(), (std::vector<int>{3, 5}));
}

TEST(Rigctld, KilledAndRestartedOnTheSamePort) {
    Rigctld rig(FreePort());
    Station4 s(rig.port());
    ASSERT_EQ(rig.Ask("F 7100000"), "RPRT 0");
    ASSERT_TRUE(s.PollUntilAntenna(3));

    rig.Kill();
    for (int i = 0; i < 5; ++i) s.loop.PollOnce();
    EXPECT_EQ(s.source->State(), "lost, reconnecting");
    EXPECT_EQ(s.Antennas(), std::vector<int>{3});
    EXPECT_TRUE(s.logs.Has("the output keeps its state"));

    rig.Start();
    ASSERT_EQ(rig.Ask("F 14100000"), "RPRT 0");
    EXPECT_TRUE(s.PollUntilAntenna(5));
    EXPECT_EQ(s.Antennas(), (std::vector<int>{3, 5}));
    EXPECT_TRUE(s.logs.Has("answers again"));
}

TEST(Rigctld, StoppedTimesOutAndRecoversAfterContinue) {
    Rigctld rig(FreePort());
    Station4 s(rig.port(), Interlock::kAuto, 300ms);
    ASSERT_EQ(rig.Ask("F 7100000"), "RPRT 0");
    ASSERT_TRUE(s.PollUntilAntenna(3));

    rig.Signal(SIGSTOP);
    s.loop.PollOnce();
    EXPECT_EQ(s.source->State(), "lost, reconnecting");
    EXPECT_TRUE(s.logs.Has("no reply within 300 ms"));
    for (int i = 0; i < 3; ++i) s.loop.PollOnce();
    EXPECT_EQ(s.Antennas(), std::vector<int>{3});

    rig.Signal(SIGCONT);
    ASSERT_EQ(rig.Ask("F 14100000"), "RPRT 0");
    EXPECT_TRUE(s.PollUntilAntenna(5));
}

// Without -P RIG the dummy answers the first 't' with RPRT -11 and later ones with 0.
TEST(Rigctld, NoTransmitStateIsDecidedFromTheFirstAnswer) {
    struct Case {
        Interlock mode;
        bool switches;
        const char* log;
    } cases[] = {
        {Interlock::kAuto, true, "switching without the transmit interlock"},
        {Interlock::kRequired, false, "--interlock required is set: switching is held"},
        {Interlock::kOff, true, nullptr},
    };
    for (const auto& c : cases) {
        Rigctld rig(FreePort(), false);
        Station4 s(rig.port(), c.mode);
        ASSERT_EQ(rig.Ask("F 7100000"), "RPRT 0");
        ASSERT_TRUE(s.PollTwice());
        EXPECT_EQ(s.writes.size(), c.switches ? 1u : 0u) << static_cast<int>(c.mode);
        EXPECT_EQ(s.loop.HasTransmitState(), c.mode == Interlock::kOff ? std::nullopt : std::optional<bool>(false));
        if (c.log) {
            EXPECT_TRUE(s.logs.Has(c.log)) << c.log;
        }
    }
}

}  // namespace
}  // namespace kelvane::svc::test
