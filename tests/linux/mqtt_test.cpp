// The station bus against a real mosquitto: status and its last will, the
// state, commands and their results, discovery, a broker that goes away, a
// password, and a radio followed through the broker from another kelvane.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "service/bus/station_bus.h"
#include "tests/linux/mosquitto.h"

namespace kelvane::svc::test {
namespace {

using nlohmann::json;

json Parsed(const std::string& text) { return json::parse(text, nullptr, false); }

// On receive, in tens of hertz.
std::string Info(int tenHz) {
    return "<RadioInfo><Freq>" + std::to_string(tenHz) + "</Freq><IsTransmitting>False</IsTransmitting></RadioInfo>";
}

class Bus : public ::testing::Test {
protected:
    std::string Path(const std::string& what) const {
        return ::testing::TempDir() + "kelvane-mqtt-" + std::to_string(::getpid()) + what;
    }
    // A kelvane following udp:`udp` into a journal of its own (unless `more`
    // gives another output), on the bus as `station`.
    pid_t Start(const std::string& station, int udp, std::vector<std::string> more) {
        return Start(station, "udp:127.0.0.1:" + std::to_string(udp), std::move(more));
    }
    pid_t Start(const std::string& station, const std::string& source, std::vector<std::string> more) {
        std::vector<std::string> args{"--settings", Path(".ini"), "--source",
                                      source,       "--output",   "journal:" + Path("." + station + ".journal"),
                                      "--poll",     "20",         "--mqtt-station",
                                      station};
        if (std::find(more.begin(), more.end(), "--output") != more.end())
            args.erase(args.begin() + 4, args.begin() + 6);
        args.insert(args.end(), more.begin(), more.end());
        const pid_t pid = SpawnKelvane(args, Path("." + station + ".out"), Path("." + station + ".err"));
        m_pids.push_back(pid);
        return pid;
    }
    void Kill(pid_t pid) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        std::erase(m_pids, pid);
    }
    void TearDown() override {
        for (const pid_t pid : std::vector(m_pids)) Kill(pid);
        for (const char* f : {".ini", ".pw", ".shack.journal", ".shack.out", ".shack.err", ".agent.journal",
                              ".agent.out", ".agent.err"})
            std::remove(Path(f).c_str());
    }
    static bool Says(const Watcher::Message& m, const char* payload) { return m.payload == payload; }

    std::vector<pid_t> m_pids;
    Loopback m_logger;
};

TEST_F(Bus, PublishesStateAnswersCommandsDeclaresEntitiesAndLeavesItsWill) {
    Broker broker;
    Watcher watch(broker);
    ASSERT_EQ(WaitExit(SpawnKelvane({"--settings", Path(".ini"), "settings", "antenna", "6", "--name", "Beam"},
                                    Path(".shack.out"), Path(".shack.err"))),
              0);
    const int udp = FreeUdpPort();
    const pid_t pid = Start("shack", udp, {"--mqtt", broker.Url()});
    const std::string root = "kelvane/shack/";
    ASSERT_TRUE(watch.Await(root + "status", [](auto& m) { return Says(m, "online"); }));
    m_logger.Send(udp, Info(1407400));
    ASSERT_TRUE(watch.Await(root + "radio/1/state", [](auto& m) {
        const json s = Parsed(m.payload);
        return s.value("frequency_hz", json()) == 14074000 && !s.contains("transmit_known");
    }));

    // Each result is checked in turn; a row expecting none leaves its place to the next row's.
    const std::string big(StationBus::kMaxPayload + 1, '1');
    const struct {
        std::string topic, payload;
        bool retain;
        json want;  // the result's fields that must match; null: no result
    } rows[] = {
        {"radio/1/antenna/set", "3", false, {{"antenna", 3}, {"held", false}}},
        {"radio/1/antenna/set", "5", true, nullptr},
        {"radio/1/antenna/set", " Beam\n", false, {{"antenna", 6}, {"held", false}}},
        {"radio/1/auto/set", "maybe", false, {{"error", "expected true, false, ON or OFF"}}},
        {"radio/1/antenna/set", "11", false, {{"error", "no antenna has that number or name"}}},
        {"radio/1/antenna/set", "\xff", false, {{"error", "not UTF-8 text"}}},
        {"radio/1/antenna/set", big, false, {{"error", "over 4 KiB"}}},
        {"radio/9/antenna/set", "1", false, {{"error", "no radio has that name"}}},
        {"radio/1/auto/set", "ON", false, {{"auto", true}}},
    };
    std::map<std::string, std::size_t> answered;
    for (const auto& row : rows) {
        const std::string result = root + row.topic.substr(0, row.topic.find('/', 6)) + "/result";
        watch.Publish(root + row.topic, row.payload, row.retain);
        if (row.want.is_null()) continue;
        const std::size_t seen = answered[result]++;
        ASSERT_TRUE(Eventually([&] { return watch.All(result).size() > seen; })) << row.topic << " " << row.payload;
        const json got = Parsed(watch.All(result)[seen].payload);
        for (const auto& [key, value] : row.want.items()) EXPECT_EQ(got.value(key, json()), value) << row.payload;
    }
    EXPECT_TRUE(Eventually([&] { return Slurp(Path(".shack.journal")).find("antenna=6 Beam") != std::string::npos; }));
    EXPECT_EQ(Slurp(Path(".shack.journal")).find("antenna=5"), std::string::npos);

    // What Home Assistant reads: retained, tied to the status, one device, the commands' topics.
    Watcher late(broker);
    std::map<std::string, json> config;
    for (const char* c : {"select", "sensor", "binary_sensor", "switch"}) {
        const std::string topic = "homeassistant/" + std::string(c) + "/kelvane_shack/1_" + c + "/config";
        const auto got = late.Await(topic, [](auto& m) { return m.retained; });
        ASSERT_TRUE(got) << topic;
        config[c] = Parsed(got->payload);
        EXPECT_EQ(config[c]["availability_topic"], root + "status");
        EXPECT_EQ(config[c]["state_topic"], root + "radio/1/state");
        EXPECT_EQ(config[c]["device"]["identifiers"], config["select"]["device"]["identifiers"]);
        EXPECT_FALSE(config[c].value("unique_id", "").empty());
    }
    EXPECT_EQ(config["select"]["command_topic"], root + "radio/1/antenna/set");
    EXPECT_EQ(config["select"]["options"].size(), 10u);
    EXPECT_EQ(config["select"]["options"][5], "Beam");
    EXPECT_EQ(config["switch"]["command_topic"], root + "radio/1/auto/set");
    EXPECT_EQ(config["sensor"]["unit_of_measurement"], "Hz");

    Kill(pid);
    ASSERT_TRUE(watch.Await(root + "status", [](auto& m) { return Says(m, "offline"); }));
    Watcher after(broker);
    EXPECT_TRUE(after.Await(root + "status", [](auto& m) { return m.retained && Says(m, "offline"); }));
}

TEST_F(Bus, SwitchingGoesOnWithoutTheBrokerAndAllIsPublishedOnItsReturn) {
    Broker broker;
    const int udp = FreeUdpPort();
    Start("shack", udp, {"--mqtt", broker.Url()});
    {
        Watcher watch(broker);
        ASSERT_TRUE(watch.Await("kelvane/shack/status", [](auto& m) { return Says(m, "online"); }));
    }
    broker.Kill();
    const std::string journal = Path(".shack.journal");
    const std::size_t before = Slurp(journal).size();
    m_logger.Send(udp, Info(710000));
    EXPECT_TRUE(Eventually([&] { return Slurp(journal).size() > before; }));
    broker.Start();
    Watcher watch(broker);
    const auto state = [](auto& m) { return Parsed(m.payload).value("frequency_hz", json()) == 7100000; };
    ASSERT_TRUE(watch.Await("kelvane/shack/radio/1/state", state));
    Watcher late(broker);  // what is retained comes flagged to a subscriber that came after
    EXPECT_TRUE(late.Await("kelvane/shack/status", [](auto& m) { return m.retained && Says(m, "online"); }));
    EXPECT_TRUE(late.Await("kelvane/shack/radio/1/state", [&](auto& m) { return m.retained && state(m); }));
    const std::string log = Slurp(Path(".shack.err"));
    EXPECT_NE(log.find("cannot be reached"), std::string::npos) << log;
    EXPECT_NE(log.find("is reached again"), std::string::npos) << log;
}

TEST_F(Bus, ABrokerIsReachedOnlyWithTheRightPasswordAndTheCaThatSignedIt) {
    Broker locked("kelvane", "s3cret"), tls({}, {}, true);
    Watcher watchLocked(locked, "kelvane", "s3cret"), watchTls(tls);
    const struct {
        Watcher& watch;
        std::vector<std::string> args;
        bool reached;
    } rows[] = {
        {watchLocked, {"--mqtt", locked.Url("kelvane"), "--mqtt-password-file", Path(".pw")}, false},
        {watchLocked, {"--mqtt", locked.Url("kelvane"), "--mqtt-password-file", Path(".pw")}, true},
        {watchTls, {"--mqtt", tls.TlsUrl(), "--mqtt-ca", tls.Cert(false)}, false},
        {watchTls, {"--mqtt", tls.TlsUrl(), "--mqtt-ca", tls.Cert(true)}, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args[1] + " " + row.args[3] + (row.reached ? "" : " (refused)"));
        std::ofstream(Path(".pw"), std::ios::trunc) << (row.reached ? "s3cret\n" : "guess\n");
        std::remove(Path(".shack.err").c_str());
        const pid_t pid = Start("shack", FreeUdpPort(), row.args);
        if (row.reached) {
            EXPECT_TRUE(row.watch.Await("kelvane/shack/status", [](auto& m) { return Says(m, "online"); }));
        } else {
            EXPECT_TRUE(Eventually([&] {
                return Slurp(Path(".shack.err")).find("cannot be reached") != std::string::npos;
            })) << Slurp(Path(".shack.err"));
            EXPECT_TRUE(row.watch.All("kelvane/shack/status").empty());
        }
        Kill(pid);
    }
}

// An agent with no output publishes its radio; the switching kelvane follows it
// through the broker, and holds while the agent is gone.
TEST_F(Bus, ARadioFollowedThroughTheBrokerIsLostWithItsStationAndBack) {
    Broker broker;
    Watcher watch(broker);
    const int udp = FreeUdpPort();
    const std::vector<std::string> agentArgs{"--mqtt", broker.Url(), "--output", "none", "--mqtt-discovery", "no"};
    pid_t agent = Start("agent", udp, agentArgs);
    Start("shack", "mqtt:kelvane/agent/radio/1/state", {"--mqtt", broker.Url()});
    const auto shackShows = [&](double hz, bool lost) {
        return watch.Await("kelvane/shack/radio/1/state", [&](auto& m) {
            const json s = Parsed(m.payload);
            return s.value("frequency_hz", json()) == hz && s.contains("transmit_known") == lost &&
                   s["source"].value("state", "").starts_with("lost") == lost;
        });
    };
    ASSERT_TRUE(watch.Await("kelvane/agent/status", [](auto& m) { return Says(m, "online"); }));
    m_logger.Send(udp, Info(1407400));
    EXPECT_TRUE(shackShows(14074000, false));
    EXPECT_TRUE(Eventually([&] { return !Slurp(Path(".shack.journal")).empty(); }));
    Kill(agent);
    EXPECT_TRUE(shackShows(14074000, true));
    agent = Start("agent", udp, agentArgs);
    EXPECT_TRUE(Eventually([&] { return watch.All("kelvane/agent/status").back().payload == "online"; }));
    m_logger.Send(udp, Info(710000));
    EXPECT_TRUE(shackShows(7100000, false));
}

}  // namespace
}  // namespace kelvane::svc::test
