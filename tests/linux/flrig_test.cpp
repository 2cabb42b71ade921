// The flrig client against the real flrig (Debian's, no radio, under Xvfb) for
// the frequency, and against a fake with flrig's method names for the rest.
#include <gtest/gtest.h>

#include <cstring>

#include "service/station/poll_loop.h"
#include "service/sources/flrig/flrig_client.h"
#include "tests/linux/helpers.h"

namespace kelvane::svc::test {
namespace {

// A command in a session of its own, killed with the session; its first
// stdout line after its pid is kept (the fake's port).
struct Child {
    explicit Child(const std::string& command)
        : pipe(::popen(("exec setsid sh -c 'echo $$; exec " + command + " 2>/dev/null'").c_str(), "r")) {
        char text[64] = "";
        pid = std::fgets(text, sizeof text, pipe) ? std::atoi(text) : 0;
        if (pid > 0 && std::fgets(text, sizeof text, pipe)) line = std::string(text, std::strcspn(text, "\n"));
    }
    ~Child() {
        if (pid > 0) ::kill(-pid, SIGKILL);
        ::pclose(pipe);
    }
    FILE* pipe;
    pid_t pid = 0;
    std::string line;
};

// Calls one of flrig's setters on 127.0.0.1:port, as an operator's program would.
void Set(const std::string& port, const std::string& call) {
    const std::string command =
        "/usr/bin/python3 -c \"import xmlrpc.client as x; x.ServerProxy('http://127.0.0.1:" + port + "')." + call +
        "\"";
    ASSERT_EQ(std::system(command.c_str()), 0) << call;
}

// The loop following flrig on 127.0.0.1:port, writing to a recorder.
struct Follower {
    explicit Follower(const std::string& port) : source(Make(port, logs.log)) {}
    static std::unique_ptr<Source> Make(const std::string& port, Log& log) {
        SourceSpec spec;
        std::string why;
        EXPECT_TRUE(ParseSourceSpec("flrig:127.0.0.1:" + port, spec, why)) << why;
        return MakeSource(spec, log, why);
    }
    // Rounds until the last write is `antenna` (1-10); false when it never comes.
    bool Until(int antenna) {
        return Eventually([&] { return !writes.empty() && writes.back().antenna + 1 == antenna; },
                          [&] { loop.PollOnce(); });
    }
    // Three more rounds answered in full.
    bool Rounds() {
        const auto target = loop.AnsweredPolls() + 3;
        return Eventually([&] { return loop.AnsweredPolls() >= target; }, [&] { loop.PollOnce(); });
    }
    LogLines logs;
    std::vector<OutputEvent> writes;
    std::unique_ptr<Source> source;
    OutputChannel output{std::make_unique<Recorder>(writes), "recorder", logs.log};
    PollLoop loop{*source, output, logs.log, Interlock::kAuto, DemoStation()};
};

FlrigClient Client(const std::string& port, std::chrono::milliseconds timeout = 1000ms) {
    return FlrigClient(FlrigOptions{Endpoint{"127.0.0.1", port}, timeout});
}

// flrig's XML-RPC port is fixed in its prefs: this test owns 12345 while it runs.
TEST(Flrig, TheRealFlrigReportsTheFrequencySetOnIt) {
    char dir[] = "/tmp/kelvane-flrig-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    Child flrig(std::string("xvfb-run -a flrig --config-dir ") + dir + " --test >/dev/null");
    FlrigClient client = Client(kFlrigPort);
    FlrigAnswer answer;
    ASSERT_TRUE(Eventually([&] { return (answer = client.Frequency()).kind == FlrigAnswer::kValue; }, [] {}, 30s))
        << answer.why;
    EXPECT_EQ(client.Ptt().value, 0u);
    Follower follow(kFlrigPort);
    for (const auto& [hertz, antenna] : {std::pair{"7100000", 3}, {"14350000", 5}, {"28500000", 9}}) {
        ASSERT_NO_FATAL_FAILURE(Set(kFlrigPort, std::string("rig.set_vfo(") + hertz + ".0)"));
        answer = client.Frequency();
        EXPECT_EQ(answer.kind, FlrigAnswer::kValue) << answer.why;
        EXPECT_EQ(std::to_string(answer.value), hertz);
        EXPECT_TRUE(follow.Until(antenna)) << hertz;
    }
    EXPECT_EQ(client.ConnectionNumber(), 1u);
    std::system((std::string("rm -rf ") + dir).c_str());
}

TEST(Flrig, RepliesThatAreNotFlrigsAreRefusedAndSilenceIsBounded) {
    struct Case {
        const char* mode;
        bool ptt;  // ask rig.get_ptt, else rig.get_vfo
        FlrigAnswer::Kind kind;
        const char* value_or_why;
    } cases[] = {
        {"tx", true, FlrigAnswer::kValue, "1"},
        {"tx", false, FlrigAnswer::kValue, "7100000"},
        {"int_vfo", false, FlrigAnswer::kBad, "an int"},
        {"text_ptt", true, FlrigAnswer::kBad, "a string"},
        {"ptt_2", true, FlrigAnswer::kBad, "answered 2"},
        {"fault", false, FlrigAnswer::kBad, "fault 'rig.get_vfo: no rig'"},
        {"huge", false, FlrigAnswer::kDown, "longer than 16384 bytes"},
        {"close", false, FlrigAnswer::kDown, "rig.get_vfo"},
        {"hang", true, FlrigAnswer::kDown, "rig.get_ptt"},
    };
    for (const auto& c : cases) {
        Child fake(std::string("/usr/bin/python3 " KELVANE_SOURCE_DIR "/tests/linux/fake_flrig.py ") + c.mode);
        ASSERT_FALSE(fake.line.empty()) << c.mode;
        FlrigClient client = Client(fake.line, 200ms);
        const FlrigAnswer a = c.ptt ? client.Ptt() : client.Frequency();
        EXPECT_EQ(a.kind, c.kind) << c.mode << ": " << a.why;
        const std::string got = a.kind == FlrigAnswer::kValue ? std::to_string(a.value) : a.why;
        EXPECT_NE(got.find(c.value_or_why), std::string::npos) << c.mode << ": " << got;
        EXPECT_EQ(client.Down(), c.kind == FlrigAnswer::kDown) << c.mode;
    }
}

// flrig's PTT through the loop: a change made while it transmits waits for receive.
TEST(Flrig, TheLoopHoldsAChangeWhileFlrigReportsPtt) {
    Child fake("/usr/bin/python3 " KELVANE_SOURCE_DIR "/tests/linux/fake_flrig.py rig");
    ASSERT_FALSE(fake.line.empty());
    Follower follow(fake.line);
    ASSERT_TRUE(follow.Until(3));
    struct Step {
        const char* call;
        int antenna;  // the last written, three rounds later
    } steps[] = {{"rig.set_ptt(1)", 3}, {"rig.set_vfo(14200000.0)", 3}, {"rig.set_ptt(0)", 5}};
    for (const auto& step : steps) {
        ASSERT_NO_FATAL_FAILURE(Set(fake.line, step.call));
        ASSERT_TRUE(follow.Rounds()) << step.call;
        EXPECT_EQ(follow.writes.back().antenna + 1, step.antenna) << step.call;
    }
    EXPECT_TRUE(follow.logs.Has("waits for receive"));
    EXPECT_TRUE(follow.logs.Has("the rig reports its transmit state"));
    EXPECT_EQ(follow.source->State(), "connected");
}

// Nothing listens: each attempt waits out a backoff of 100 ms doubling to 2 s, on an injected clock.
TEST(Flrig, ReconnectsWithABackoffThatDoublesToTwoSeconds) {
    FlrigClient::Clock::time_point now{};
    FlrigClient client(FlrigOptions{Endpoint{"127.0.0.1", std::to_string(FreePort())}}, [&] { return now; });
    EXPECT_NE(client.Frequency().why, "waiting to reconnect");
    for (const int backoff : {100, 200, 400, 800, 1600, 2000, 2000}) {
        now += std::chrono::milliseconds(backoff - 1);
        EXPECT_EQ(client.Frequency().why, "waiting to reconnect") << backoff;
        now += 1ms;
        const FlrigAnswer a = client.Frequency();
        EXPECT_EQ(a.kind, FlrigAnswer::kDown);
        EXPECT_NE(a.why, "waiting to reconnect") << backoff;
    }
}

}  // namespace
}  // namespace kelvane::svc::test
