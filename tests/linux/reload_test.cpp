// The service and a settings file that goes bad under it: a reload keeps the
// tables and the antenna in use, and a start on such a file exits 1 saying why.
#include <gtest/gtest.h>

#include <random>

#include "settings/settings_file.h"
#include "tests/linux/helpers.h"

namespace kelvane::svc::test {
namespace {

// The line of `text` that holds `part` last.
std::string LineWith(const std::string& text, const std::string& part) {
    const auto at = text.rfind(part);
    if (at == std::string::npos) return {};
    const auto from = text.rfind('\n', at) + 1;  // npos + 1 is 0
    return text.substr(from, text.find('\n', at) - from);
}

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

TEST(SettingsReload, ABadFileKeepsTheTablesAndTheAntennaAndStopsAStart) {
    const std::string base = ::testing::TempDir() + "kelvane-reload-" + std::to_string(::getpid());
    const std::string ini = base + ".ini", journal = base + ".journal", err = base + ".err", start = base + ".start";
    const Station demo = DemoStation();
    const std::string good = SerializeSettings(demo.tables, demo.bands);
    std::mt19937 rng(15);  // the same bytes on every run
    std::string random(400, '\0');
    for (char& c : random) c = static_cast<char>(rng() & 0xFF);
    const struct {
        const char* bytes;  // in place of the file; null: deleted
        std::size_t size;
        const char* reason;  // in the reload's line and in a start's
    } cases[] = {
        {nullptr, 0, "no settings file at"},
        {good.data(), 100, "is damaged: only 100 bytes, fewer than the 164"},
        {random.data(), random.size(), "is damaged: "},
    };
    std::ofstream(ini, std::ios::binary) << good;
    Rigctld rig(FreePort());
    ASSERT_EQ(rig.Ask("F 7100000"), "RPRT 0");
    const pid_t pid = SpawnKelvane({"--settings", ini, "--rigctld", "127.0.0.1:" + std::to_string(rig.port()), "--poll",
                                    "20", "--output", "journal:" + journal},
                                   base + ".out", err);
    ASSERT_TRUE(Eventually([&] { return Count(Slurp(journal), "antenna=3 40m antenna\n") == 1; }));
    for (std::size_t round = 0; round < std::size(cases); ++round) {
        const auto& c = cases[round];
        SCOPED_TRACE(c.reason);
        if (c.bytes)
            std::ofstream(ini, std::ios::binary | std::ios::trunc).write(c.bytes, static_cast<std::streamsize>(c.size));
        else
            std::remove(ini.c_str());
        ::kill(pid, SIGHUP);
        ASSERT_TRUE(Eventually([&] { return Count(Slurp(err), "keeping the settings in use\n") == round + 1; }));
        const std::string line = LineWith(Slurp(err), "keeping the settings in use");
        EXPECT_NE(line.find(ini), std::string::npos) << line;
        EXPECT_NE(line.find(c.reason), std::string::npos) << line;
        // A band the kept tables give an antenna of its own; the defaults would give antenna 1.
        const bool to20m = round % 2 == 0;
        ASSERT_EQ(rig.Ask(to20m ? "F 14200000" : "F 7100000"), "RPRT 0");
        EXPECT_TRUE(Eventually([&] {
            const std::string j = Slurp(journal);
            return j.size() > 22 &&
                   j.substr(j.size() - 22) == (to20m ? "antenna=5 20m antenna\n" : "antenna=3 40m antenna\n");
        })) << Slurp(journal);
        if (!c.bytes) continue;
        EXPECT_EQ(WaitExit(SpawnKelvane({"--settings", ini}, start + ".out", start)), 1);
        const std::string said = Slurp(start);
        EXPECT_EQ(Count(said, "\n"), 1u) << said;
        EXPECT_EQ(LineWith(said, ini).find(c.reason) != std::string::npos, true) << said;
    }
    ::kill(pid, SIGTERM);
    EXPECT_EQ(WaitExit(pid), 0);
    EXPECT_EQ(Count(Slurp(journal), " antenna="), 1 + std::size(cases)) << "only the switches asked for";
    for (const std::string& f : {ini, journal, err, start, start + ".out", base + ".out"}) std::remove(f.c_str());
}

// Radios sharing antennas: an inhibit line an antenna uses stops the start at
// its config line; a reload naming other radios keeps the running ones.
TEST(RadiosReload, AnInhibitAntennasUseAndChangedRadiosAreRefused) {
    const std::string base = ::testing::TempDir() + "kelvane-radios-" + std::to_string(::getpid());
    const std::string ini = base + ".ini", conf = base + ".conf", err = base + ".err", journal = base + ".journal";
    const Station demo = DemoStation();  // antenna N has the value N
    std::ofstream(ini, std::ios::binary) << SerializeSettings(demo.tables, demo.bands);
    const std::uint16_t port = FreeUdpPort();
    const auto radios = [&](const std::string& more) {
        std::ofstream(conf, std::ios::trunc)
            << "[radio A]\nsource = udp:127.0.0.1:" << port << ",radio=1\noutput = journal:" << journal << "\n"
            << "[radio B]\nsource = udp:127.0.0.1:" << port << ",radio=2\noutput = journal:" << journal << "-b\n"
            << more;
    };
    radios("inhibit = 3\n");
    // Waited for with a bound, so that a service that starts after all fails here rather than hangs.
    const pid_t refused = SpawnKelvane({"--settings", ini, "--config", conf}, base + ".out", err);
    int status = 0;
    if (!Eventually([&] { return ::waitpid(refused, &status, WNOHANG) == refused; })) {
        ::kill(refused, SIGKILL);
        WaitExit(refused);
        status = -1;  // still running: started, though it should not have
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    EXPECT_NE(Slurp(err).find(conf + ": line 7: radio B's inhibit line 3 is also set by antenna 4"), std::string::npos)
        << Slurp(err);

    radios("inhibit = 8\n");
    const pid_t pid = SpawnKelvane({"--settings", ini, "--config", conf}, base + ".out", err);
    ASSERT_GT(pid, 0);
    Loopback sender;
    const auto to40m = [&](int radio) {
        sender.Send(port, "<RadioInfo><RadioNr>" + std::to_string(radio) + "</RadioNr><Freq>710000</Freq></RadioInfo>");
    };
    EXPECT_TRUE(Eventually([&] {
        to40m(1);
        return Slurp(journal).find("radio=A byte=0x03 antenna=3") != std::string::npos;
    })) << Slurp(err);
    radios("inhibit = 8\n[radio C]\nsource = udp:1\noutput = journal:/dev/null\n");
    ::kill(pid, SIGHUP);
    EXPECT_TRUE(
        Eventually([&] { return Slurp(err).find("restart kelvane to change the radios") != std::string::npos; }));
    to40m(2);  // B still runs, and 40 m is A's
    EXPECT_TRUE(Eventually([&] {
        return Slurp(journal + "-b").find("radio=B byte=0x80 antenna=0 none\n") != std::string::npos;
    })) << Slurp(journal + "-b");
    radios("inhibit = 7\n");  // a new inhibit line reaches the blocked radio
    ::kill(pid, SIGHUP);
    EXPECT_TRUE(Eventually([&] {
        return Slurp(journal + "-b").find("radio=B byte=0x40 antenna=0 none\n") != std::string::npos;
    })) << Slurp(journal + "-b");
    ::kill(pid, SIGTERM);
    EXPECT_EQ(WaitExit(pid), 0);
    for (const std::string& f : {ini, conf, err, journal, journal + "-b", base + ".out"}) std::remove(f.c_str());
}

}  // namespace
}  // namespace kelvane::svc::test
