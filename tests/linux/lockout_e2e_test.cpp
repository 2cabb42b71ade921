// Two radios on one set of antennas, each following its own real rigctld (the
// dummy rig), through the built program: the lockout's rules step by step as
// the journals show them, then random changes on both rigs replayed from the
// journals: never one antenna on both radios, never a switch while a radio
// transmits. What the service has seen is read from its state file, so no
// step rests on a guess at how long a poll takes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <regex>

#include "settings/settings_file.h"
#include "tests/linux/helpers.h"

namespace kelvane::svc::test {
namespace {

std::int64_t NowMicros() {
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);  // the journal's clock
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

// The bands the radios meet on, from 1, with their alternates; band n's own antenna is n (DemoStation).
const std::map<int, std::vector<int>> kShared = {{3, {}}, {5, {7, 6}}, {7, {5}}, {9, {3}}};

struct Line {
    std::int64_t us = 0;
    std::string radio, text;
    int byte = -1, antenna = -1;  // -1: not in the journal's form, so they match nothing
    std::string name = "";
};

struct Radio {
    std::string name;
    int inhibit;  // its byte while it has no antenna
    std::string journal;
    Rigctld rig{FreePort()};
    long hz = 0;
    bool tx = false;
    std::vector<std::pair<std::int64_t, std::int64_t>> transmitting = {};  // as the service surely saw it

    std::vector<Line> Lines() const {
        const std::regex form("([0-9]{16}) radio=" + name + " byte=0x([0-9A-F]{2}) antenna=([0-9]+) (.+)");
        std::vector<Line> out;
        std::istringstream in(Slurp(journal));
        std::smatch m;
        for (std::string text; std::getline(in, text);)
            out.push_back(std::regex_match(text, m, form)
                              ? Line{std::stoll(m[1]), name, text, std::stoi(m[2], nullptr, 16), std::stoi(m[3]), m[4]}
                              : Line{0, name, text});
        return out;
    }
    std::vector<int> Antennas() const {
        std::vector<int> out;
        for (const auto& l : Lines()) out.push_back(l.antenna);
        return out;
    }
};

class SharedAntennas : public ::testing::Test {
protected:
    std::string Path(const std::string& name) const {
        return ::testing::TempDir() + "kelvane-shared-" + std::to_string(::getpid()) + name;
    }
    void SetUp() override {
        ::mkdir(Path("-run").c_str(), 0755);
        if (const char* was = std::getenv("RUNTIME_DIRECTORY")) runtimeWas = was;
        ::setenv("RUNTIME_DIRECTORY", Path("-run").c_str(), 1);  // the state file, for the spawned service
        const Station demo = DemoStation();
        ASSERT_TRUE(SaveSettings(Path(".ini"), demo.tables, demo.bands));
        std::ofstream conf(Path(".conf"));
        conf << "poll = 20\nverbose = yes\n";
        for (const auto& r : radios) {
            std::remove(r.journal.c_str());
            conf << "[radio " << r.name << "]\nsource = rigctld:127.0.0.1:" << r.rig.port()
                 << "\noutput = journal:" << r.journal << "\n";
            if (r.inhibit) conf << "inhibit = " << __builtin_ctz(static_cast<unsigned>(r.inhibit)) + 1 << "\n";
        }
        for (const auto& [band, alternates] : kShared) {
            if (alternates.empty()) continue;
            conf << "[band " << band << "]\nalternates =";
            for (const int a : alternates) conf << " " << a;
            conf << "\n";
        }
    }
    void TearDown() override {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            WaitExit(pid);
        }
        if (HasFailure()) std::cerr << Slurp(Path(".err"));
        for (const auto& r : radios) std::remove(r.journal.c_str());
        for (const char* f : {".ini", ".conf", ".out", ".err", "-run/state.json"}) std::remove(Path(f).c_str());
        ::rmdir(Path("-run").c_str());
        runtimeWas ? ::setenv("RUNTIME_DIRECTORY", runtimeWas->c_str(), 1) : ::unsetenv("RUNTIME_DIRECTORY");
    }

    // The radio as the state file last showed it.
    std::optional<nlohmann::json> Seen(const Radio& r) const {
        const auto doc = nlohmann::json::parse(Slurp(Path("-run/state.json")), nullptr, false);
        if (doc.is_discarded() || !doc.contains("radios")) return std::nullopt;
        for (const auto& s : doc["radios"])
            if (s.value("name", "") == r.name) return s;
        return std::nullopt;
    }
    // An F or T on the rig; with `wait`, true once the service has read it.
    // A transmit counts from the moment it is seen, to just before its T 0.
    bool Tell(Radio& r, const std::string& command, bool wait = true) {
        if (command == "T 0" && r.tx) r.transmitting.back().second = NowMicros();
        if (r.rig.Ask(command) != "RPRT 0") return false;
        if (command[0] == 'F')
            r.hz = std::stol(command.substr(2));
        else
            r.tx = command == "T 1";
        // Every T is waited for: a T 1 right after an unseen T 0 would find the old transmit.
        if (!wait && command[0] == 'F') return true;
        const bool seen = Eventually([&] {
            const auto s = Seen(r);
            return s && (*s)["transmitting"] == r.tx && (*s)["frequency_hz"].is_number() &&
                   (*s)["frequency_hz"].get<double>() == static_cast<double>(r.hz);
        });
        if (seen && command == "T 1") r.transmitting.emplace_back(NowMicros(), INT64_MAX);
        return seen;
    }
    // Two more readings of each radio seen: whatever the last ones caused is written.
    bool Settle() {
        bool ok = true;
        for (auto& r : radios)
            for (const long step : {10, -10}) ok = ok && Tell(r, "F " + std::to_string(r.hz + step));
        return ok;
    }

    Radio radios[2] = {{"A", 0, Path("-a.journal")}, {"B", 0x80, Path("-b.journal")}};
    pid_t pid = -1;
    std::optional<std::string> runtimeWas;
};

TEST_F(SharedAntennas, RulesStepByStepThenRandomChangesNeverShareOrSwitchInTransmit) {
    Radio &a = radios[0], &b = radios[1];
    // Both on 20 m from the start: the radio listed first wins the tie, the other gets the alternate.
    ASSERT_TRUE(Tell(a, "F 14200000", false) && Tell(b, "F 14150000", false));
    pid = SpawnKelvane({"--config", Path(".conf"), "--settings", Path(".ini")}, Path(".out"), Path(".err"));
    std::vector<int> want[2] = {{5}, {7}};
    const struct Step {
        int radio;
        const char* command;
        int a, b;  // the antennas it writes; -1: none, 0: it has none
    } steps[] = {
        {1, "T 1", -1, -1},       // B transmits on 7
        {0, "F 7100000", 3, -1},  // A leaves 5, but B transmits
        {1, "T 0", -1, 5},        // B takes it at its next receive poll
        {1, "F 7050000", -1, 0},  // 40 m has 3 alone, which A holds: B blocked
        {0, "F 28500000", 9, 3},  // A leaves 3 for 10 m: B takes it
        {0, "F 7100000", 0, -1},  // A blocked, without an inhibit line
    };
    ASSERT_TRUE(Eventually([&] { return a.Antennas() == want[0] && b.Antennas() == want[1]; }));
    for (const auto& s : steps) {
        SCOPED_TRACE(radios[s.radio].name + ": " + s.command);
        ASSERT_TRUE(Tell(radios[s.radio], s.command));
        for (int i : {0, 1})
            if (const int w = i ? s.b : s.a; w >= 0) want[i].push_back(w);
        EXPECT_TRUE(Eventually([&] { return a.Antennas() == want[0] && b.Antennas() == want[1]; }));
        ASSERT_TRUE(Settle());
        ASSERT_EQ(a.Antennas(), want[0]);
        ASSERT_EQ(b.Antennas(), want[1]);
    }
    EXPECT_EQ(Seen(a).value_or(nlohmann::json::object())["blocked_by"], "B");

    std::mt19937 rng(20261207);
    const BandTable bands;
    for (int k = 0; k < 500; ++k) {
        Radio& r = radios[rng() % 2];
        const int band = std::next(kShared.begin(), static_cast<long>(rng() % kShared.size()))->first;
        const long low = bands.low[band - 1] * 1000L + 1000, high = bands.high[band - 1] * 1000L - 1000;
        const std::string command = rng() % 3 ? "F " + std::to_string(low + static_cast<long>(rng() % (high - low)))
                                    : r.tx    ? "T 0"
                                              : "T 1";
        ASSERT_TRUE(Tell(r, command, false)) << command;
        ::usleep(rng() % 20000);  // changes at random moments of the poll
    }
    for (auto& r : radios) ASSERT_TRUE(Tell(r, "T 0"));
    ASSERT_TRUE(Settle());
    // At rest each radio has the first antenna of its band the other does not hold.
    for (int i : {0, 1}) {
        std::vector<int> choices;
        for (const auto& [band, alternates] : kShared)
            if (radios[i].hz / 1000 >= bands.low[band - 1] && radios[i].hz / 1000 <= bands.high[band - 1])
                choices = alternates, choices.insert(choices.begin(), band);
        std::erase(choices, radios[1 - i].Antennas().back());
        EXPECT_EQ(radios[i].Antennas().back(), choices.empty() ? 0 : choices.front()) << radios[i].name;
    }
    ::kill(pid, SIGTERM);
    EXPECT_EQ(WaitExit(pid), 0);
    pid = -1;

    // One thread writes both journals, so their lines by time are the writes in order.
    std::vector<Line> all;
    const std::string err = Slurp(Path(".err"));
    for (const auto& r : radios) {
        const auto lines = r.Lines();
        all.insert(all.end(), lines.begin(), lines.end());
        const std::string wrote = "radio " + r.name + ": wrote byte=";
        std::size_t logged = 0;
        for (auto at = err.find(wrote); at != std::string::npos; at = err.find(wrote, at + 1)) ++logged;
        EXPECT_EQ(logged, lines.size()) << r.name;
    }
    std::stable_sort(all.begin(), all.end(), [](const Line& x, const Line& y) { return x.us < y.us; });
    std::map<std::string, int> holds;
    for (auto from = all.begin(); from != all.end();) {
        // Lines of one microsecond may have been written in either order: all let go first.
        const auto to = std::find_if(from, all.end(), [&](const Line& l) { return l.us != from->us; });
        for (auto l = from; l != to; ++l) holds[l->radio] = 0;
        for (auto l = from; l != to; ++l) {
            const Radio& r = l->radio == a.name ? a : b;
            for (const auto& [other, held] : holds)
                EXPECT_TRUE(other == l->radio || held == 0 || held != l->antenna) << l->text << " while " << other;
            holds[l->radio] = l->antenna;
            EXPECT_EQ(l->byte, l->antenna ? l->antenna : r.inhibit) << l->text;
            EXPECT_EQ(l->name == "none", l->antenna == 0) << l->text;
            for (const auto& [on, off] : r.transmitting)
                EXPECT_FALSE(on < l->us && l->us < off) << l->text << " while transmitting from " << on;
        }
        from = to;
    }
}

}  // namespace
}  // namespace kelvane::svc::test
