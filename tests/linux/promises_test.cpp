// The lockout's promises over random timelines of 2-4 radios sharing antennas:
// bands with alternates, transmit, lost sources, hand picks, and relays that
// fail writes (some reaching the relays anyway) or cannot say what they hold.
// What counts is what the relays are on, not what the service asked for.
#include <gtest/gtest.h>
#include <httplib.h>

#include <nlohmann/json.hpp>
#include <random>

#include "service/station/poll_loop.h"
#include "settings/settings_file.h"
#include "tests/linux/helpers.h"

namespace kelvane::svc::test {
namespace {

// A rig whose readings the timeline sets; `told`: the transmit state the loop
// last heard, nothing while lost or before a reading.
struct Rig final : Source {
    double hertz = 0;
    bool tx = false, lost = false;
    std::optional<bool> told;
    void Read(bool, std::vector<Reading>& readings) override {
        if (!lost) readings.push_back({hertz, tx}), told = tx;
    }
    std::string Name() const override { return "script"; }
    std::string State() const override { return {}; }
    std::string NoTransmitState() const override { return {}; }
    std::string TransmitStateBack() const override { return {}; }
    bool Lost() const override { return lost; }
};

// Latching relays (antenna n has byte n): a failed write may or may not reach them.
struct Relays final : OutputDevice {
    std::uint8_t wire = 0;
    bool tells = true, failing = false;
    std::mt19937* rng = nullptr;
    int Antenna() const { return wire >= 1 && wire <= kAntennaCount ? wire : 0; }
    bool Open(std::string&) override { return true; }
    bool Write(const OutputEvent& e, std::string&) override {
        if (!failing || (*rng)() % 2) wire = e.byte;
        return !failing;
    }
    std::optional<std::uint8_t> Holds() override { return tells ? std::optional(wire) : std::nullopt; }
    void Close() override {}
};

TEST(LockoutPromises, RandomTimelinesNeverShareAnAntennaNorMoveARadioThatMayNotChange) {
    const BandTable bands;
    for (unsigned seed = 1; seed <= 24; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 rng(seed);
        const std::size_t n = 2 + rng() % 3;
        Alternates alternates;
        for (int k = 0; k < 4; ++k) alternates[rng() % 4] = {static_cast<int>(rng() % 4), static_cast<int>(rng() % 4)};
        std::chrono::steady_clock::time_point now{};
        std::vector<std::string> names;
        for (std::size_t i = 0; i < n; ++i) names.push_back(std::string(1, static_cast<char>('A' + i)));
        Switchboard board(names, alternates, [&] { return now; });
        LogLines logs;
        std::vector<Rig> rigs(n);
        std::vector<Relays*> relays;
        std::vector<std::unique_ptr<OutputChannel>> outputs;
        std::vector<std::unique_ptr<PollLoop>> loops;
        for (std::size_t i = 0; i < n; ++i) {
            // A restart: each board on its own antenna of the first four, or none, or it cannot tell.
            auto device = std::make_unique<Relays>();
            relays.push_back(device.get());
            device->wire = static_cast<std::uint8_t>(rng() % 2 ? i + 1 : 0);
            device->tells = rng() % 4 != 0;
            device->rng = &rng;
            rigs[i].lost = rng() % 2;
            outputs.push_back(
                std::make_unique<OutputChannel>(std::move(device), names[i], logs.log, std::chrono::milliseconds{0}));
            loops.push_back(std::make_unique<PollLoop>(rigs[i], *outputs[i], logs.log, Interlock::kAuto, DemoStation(),
                                                       Seat{&board, i, std::nullopt}));
        }
        for (int step = 0; step < 150; ++step) {
            const std::size_t r = rng() % n;
            Rig& rig = rigs[r];
            switch (rng() % 8) {
            case 0:
            case 1: {
                const int band = static_cast<int>(rng() % 4);
                rig.hertz = bands.low[band] * 1000.0 + 500;
                break;
            }
            case 2:
                rig.tx = !rig.tx;
                break;
            case 3:
                rig.lost = !rig.lost;
                if (rig.lost) rig.told.reset();
                break;
            case 4:
                relays[r]->failing = rng() % 3 == 0;
                break;
            default:
                break;
            }
            now += std::chrono::milliseconds(rng() % 60);
            std::vector<int> before;
            for (const Relays* b : relays) before.push_back(b->wire);
            const std::size_t acting = rng() % n;
            const int pick = static_cast<int>(rng() % 5);
            if (pick == 4) {
                loops[acting]->SetAuto(true);
            } else if (rng() % 4 == 0) {
                // Switched only once the relays are on it.
                const bool made = loops[acting]->Pick(pick) == Picked::kMade;
                ASSERT_TRUE(!made || relays[acting]->Antenna() == pick + 1) << names[acting] << " at step " << step;
            } else {
                loops[acting]->PollOnce();
            }
            for (std::size_t i = 0; i < n; ++i) {
                // Only the acting radio moves, and only at what it last heard as receive.
                const bool mayMove = i == acting && rigs[i].told == false;
                ASSERT_TRUE(mayMove || relays[i]->wire == before[i]) << names[i] << " moved at step " << step;
                for (std::size_t j = 0; j < i; ++j)
                    ASSERT_FALSE(relays[i]->Antenna() && relays[i]->Antenna() == relays[j]->Antenna())
                        << "antenna " << relays[i]->Antenna() << " on " << names[j] << " and " << names[i]
                        << " at step " << step;
            }
        }
    }
}

// The built program with its web console, following real rigctlds into journals.
class Service : public ::testing::Test {
protected:
    std::string Path(const std::string& name) const {
        return ::testing::TempDir() + "kelvane-promises-" + std::to_string(::getpid()) + name;
    }
    void SetUp() override {
        const Station demo = DemoStation();
        ASSERT_TRUE(SaveSettings(Path(".ini"), demo.tables, demo.bands));
    }
    void TearDown() override {
        if (pid > 0) ::kill(pid, SIGKILL), WaitExit(pid);
        if (HasFailure()) std::cerr << Slurp(Path(".err"));
        for (const char* f : {".ini", ".conf", ".out", ".err", ".a", ".b"}) std::remove(Path(f).c_str());
    }
    void Config(const std::string& text) {
        std::ofstream(Path(".conf"), std::ios::trunc) << "poll = 20\nweb = 127.0.0.1:" << web << "\n" << text;
    }
    void Start() {
        pid = SpawnKelvane({"--config", Path(".conf"), "--settings", Path(".ini")}, Path(".out"), Path(".err"));
    }
    nlohmann::json Radio(const std::string& name) {
        httplib::Client c("127.0.0.1", web);
        const auto res = c.Get("/api/state");
        const auto doc = nlohmann::json::parse(res ? res->body : "", nullptr, false);
        if (doc.is_object() && doc.contains("radios"))
            for (const auto& r : doc["radios"])
                if (r["name"] == name) return r;
        return nlohmann::json::object();
    }
    httplib::Result Pick(int antenna) {
        httplib::Client c("127.0.0.1", web);
        const std::string origin = "http://127.0.0.1:" + std::to_string(web);
        return c.Post("/api/antenna", {{"Origin", origin}}, "{\"antenna\":" + std::to_string(antenna) + "}",
                      "application/json");
    }
    int web = FreePort();
    pid_t pid = -1;
};

TEST_F(Service, AReloadToANewSourceDuringTransmitKeepsAPickHeldUntilItsFirstReceive) {
    Rigctld rig(FreePort());
    const int next = FreePort();  // nothing listens there yet
    ASSERT_EQ(rig.Ask("F 7100000"), "RPRT 0");
    Config("source = rigctld:127.0.0.1:" + std::to_string(rig.port()) + "\noutput = journal:" + Path(".a") + "\n");
    Start();
    ASSERT_TRUE(Eventually([&] { return Slurp(Path(".a")).find("antenna=3 ") != std::string::npos; }));
    ASSERT_EQ(rig.Ask("T 1"), "RPRT 0");
    ASSERT_TRUE(Eventually([&] { return Radio("1")["transmitting"] == true; }));
    Config("source = rigctld:127.0.0.1:" + std::to_string(next) + "\noutput = journal:" + Path(".a") + "\n");
    ::kill(pid, SIGHUP);
    ASSERT_TRUE(Eventually([&] { return Slurp(Path(".err")).find("now following") != std::string::npos; }));
    const auto res = Pick(6);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200) << res->body;
    EXPECT_EQ(nlohmann::json::parse(res->body).value("held", false), true) << res->body;
    EXPECT_EQ(Radio("1")["transmit_known"], false);
    Rigctld fresh(next);  // its first reading reports receive: the pick is made
    EXPECT_TRUE(Eventually([&] { return Slurp(Path(".a")).find("antenna=6 ") != std::string::npos; }));
    EXPECT_EQ(Slurp(Path(".a")).find(" antenna=6 "), Slurp(Path(".a")).rfind(" antenna=")) << Slurp(Path(".a"));
}

TEST_F(Service, ARestartKeepsTheAntennaADeadRadiosRelaysHoldFromTheOthers) {
    Rigctld rig(FreePort());
    ASSERT_EQ(rig.Ask("F 1850000"), "RPRT 0");  // 160 m, antenna 1's band
    std::ofstream(Path(".a")) << "1700000000000000 radio=A byte=0x01 antenna=1 160m antenna\n";
    Config("[radio A]\nsource = rigctld:127.0.0.1:" + std::to_string(FreePort()) + "\noutput = journal:" + Path(".a") +
           "\n[radio B]\nsource = rigctld:127.0.0.1:" + std::to_string(rig.port()) +
           "\noutput = journal:" + Path(".b") + "\ninhibit = 8\n");
    Start();
    ASSERT_TRUE(Eventually([&] { return Radio("B")["blocked_by"] == "A"; })) << Slurp(Path(".b"));
    for (const long hz : {1850010, 1850020})  // more of B's readings, each seen
        ASSERT_TRUE(rig.Ask("F " + std::to_string(hz)) == "RPRT 0" &&
                    Eventually([&] { return Radio("B")["frequency_hz"] == hz; }));
    EXPECT_EQ(Slurp(Path(".b")).find("antenna=1 "), std::string::npos) << Slurp(Path(".b"));
    EXPECT_NE(Slurp(Path(".b")).find("radio=B byte=0x80 antenna=0 none"), std::string::npos) << Slurp(Path(".b"));
}

TEST_F(Service, AReloadToAnotherOutputClearsTheOldRelaysAtReceiveBeforeTheNewOneGetsTheAntenna) {
    Rigctld rig(FreePort());
    ASSERT_EQ(rig.Ask("F 7100000"), "RPRT 0");
    const std::string source = "source = rigctld:127.0.0.1:" + std::to_string(rig.port()) + "\n";
    Config(source + "output = journal:" + Path(".a") + "\n");
    Start();
    ASSERT_TRUE(Eventually([&] { return Slurp(Path(".a")).find("antenna=3 ") != std::string::npos; }));
    ASSERT_EQ(rig.Ask("T 1"), "RPRT 0");
    ASSERT_TRUE(Eventually([&] { return Radio("1")["transmitting"] == true; }));
    Config(source + "output = journal:" + Path(".b") + "\n");
    ::kill(pid, SIGHUP);
    ASSERT_TRUE(Eventually([&] { return Slurp(Path(".err")).find("keeps its antenna") != std::string::npos; }));
    const std::string during = Slurp(Path(".a"));
    EXPECT_EQ(during.rfind(" antenna="), during.find(" antenna=3 ")) << during;
    EXPECT_EQ(Slurp(Path(".b")), "");
    ASSERT_EQ(rig.Ask("T 0"), "RPRT 0");
    ASSERT_TRUE(Eventually([&] { return Slurp(Path(".b")).find("antenna=3 ") != std::string::npos; }))
        << Slurp(Path(".err"));
    const std::string old = Slurp(Path(".a"));
    EXPECT_NE(old.rfind(" antenna=0 none"), std::string::npos) << old;
    EXPECT_GT(old.rfind(" antenna=0 none"), old.rfind(" antenna=3 ")) << old;
}

}  // namespace
}  // namespace kelvane::svc::test
