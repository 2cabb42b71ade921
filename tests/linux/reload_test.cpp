// The service and a settings file that goes bad under it: a reload keeps the
// tables and the antenna in use, and a start on such a file exits 1 saying why.
#include <gtest/gtest.h>

#include <random>

#include "settings/settings_file.h"
#include "tests/linux/helpers.h"

namespace kelvane::svc::test {
namespace {

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// Bytes no one would take for settings, the same on every run.
std::string RandomBytes(std::size_t n) {
    std::mt19937 rng(15);
    std::string bytes;
    while (bytes.size() < n) bytes.push_back(static_cast<char>(rng() & 0xFF));
    return bytes;
}

class SettingsReload : public ::testing::Test {
protected:
    std::string Path(const char* name) {
        return ::testing::TempDir() + "kelvane-reload-" + std::to_string(::getpid()) + name;
    }
    void TearDown() override {
        for (const char* f : {".out", ".err", ".ini", ".journal", ".start.out", ".start.err"})
            std::remove(Path(f).c_str());
    }
};

TEST_F(SettingsReload, ABadFileKeepsTheTablesAndTheAntennaAndStopsAStart) {
    const Station demo = DemoStation();
    const std::string ini = Path(".ini"), journal = Path(".journal"), err = Path(".err");
    const std::string good = SerializeSettings(demo.tables, demo.bands);
    const struct {
        const char* what;
        bool remove;
        std::string bytes;   // in place of the file
        const char* reason;  // in the reload's line and in a start's
    } cases[] = {
        {"deleted", true, "", "no settings file at"},
        {"cut to 100 bytes", false, good.substr(0, 100), "is damaged: only 100 bytes, fewer than the 164"},
        {"random bytes", false, RandomBytes(400), "is damaged: "},
    };
    std::ofstream(ini, std::ios::binary) << good;
    Rigctld rig(FreePort());
    ASSERT_EQ(rig.Ask("F 7100000"), "RPRT 0");
    const pid_t pid = SpawnKelvane({"--settings", ini, "--rigctld", "127.0.0.1:" + std::to_string(rig.port()), "--poll",
                                    "20", "--output", "journal:" + journal},
                                   Path(".out"), err);
    ASSERT_TRUE(Eventually([&] { return Count(Slurp(journal), "antenna=3 40m antenna\n") == 1; }));
    std::size_t round = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.remove)
            std::remove(ini.c_str());
        else
            std::ofstream(ini, std::ios::binary | std::ios::trunc) << c.bytes;
        ::kill(pid, SIGHUP);
        ASSERT_TRUE(Eventually([&] { return Count(Slurp(err), "keeping the settings in use") == round + 1; }));
        const std::string log = Slurp(err);
        const std::string line = log.substr(log.rfind('\n', log.rfind("keeping the settings in use")) + 1);
        EXPECT_NE(line.find(ini), std::string::npos) << line;
        EXPECT_NE(line.find(c.reason), std::string::npos) << line;
        // A band the kept tables give its own antenna, where the defaults would give antenna 1.
        const bool to20m = round % 2 == 0;
        ASSERT_EQ(rig.Ask(to20m ? "F 14200000" : "F 7100000"), "RPRT 0");
        const std::string wanted = to20m ? "antenna=5 20m antenna\n" : "antenna=3 40m antenna\n";
        EXPECT_TRUE(Eventually([&] {
            const std::string j = Slurp(journal);
            return j.size() > wanted.size() && j.compare(j.size() - wanted.size(), wanted.size(), wanted) == 0;
        })) << Slurp(journal)
            << Slurp(err);
        if (!c.remove) {
            EXPECT_EQ(WaitExit(SpawnKelvane({"--settings", ini}, Path(".start.out"), Path(".start.err"))), 1);
            const std::string start = Slurp(Path(".start.err"));
            EXPECT_EQ(Count(start, "\n"), 1u) << start;
            EXPECT_NE(start.find(ini), std::string::npos) << start;
            EXPECT_NE(start.find(c.reason), std::string::npos) << start;
        }
        ++round;
    }
    ::kill(pid, SIGTERM);
    EXPECT_EQ(WaitExit(pid), 0);
    EXPECT_EQ(Count(Slurp(journal), " antenna="), 1 + round) << "only the switches asked for:\n" << Slurp(journal);
    EXPECT_EQ(Count(Slurp(err), "settings reloaded"), 0u);
}

}  // namespace
}  // namespace kelvane::svc::test
