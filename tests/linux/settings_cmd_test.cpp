// `kelvane settings`: each refusal names the field and the rule, exits 2 and
// leaves the file byte for byte as it was; accepted edits reach the file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sys/resource.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <thread>

#include "service/config/settings_cmd.h"
#include "settings/settings_file.h"
#include "tests/linux/helpers.h"

namespace kelvane::svc::test {
namespace {

class SettingsCommand : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = ::testing::TempDir() + "kelvane-settings-" + std::to_string(::getpid());
        ::mkdir(m_dir.c_str(), 0755);
        m_path = m_dir + "/Kelvaneer12.ini";
        const Station s = DemoStation();
        ASSERT_TRUE(SaveSettings(m_path, s.tables, s.bands));
    }
    void TearDown() override {
        std::remove(m_path.c_str());
        std::remove((m_dir + "/new/Kelvaneer12.ini").c_str());
        ::rmdir((m_dir + "/new").c_str());
        ::rmdir(m_dir.c_str());
    }
    int Run(const std::vector<std::string>& args, const std::string& path = "") {
        m_out.str("");
        m_err.str("");
        return RunSettingsCommand(path.empty() ? m_path : path, args, m_out, m_err);
    }
    std::string m_dir, m_path;
    std::ostringstream m_out, m_err;
};

TEST_F(SettingsCommand, RefusalsNameTheFieldAndTheRuleAndTouchNothing) {
    struct Case {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"antenna", "3", "--value", "abc"}, "antenna 3 value \"abc\" refused: Please enter a positive integer."},
        {{"antenna", "3", "--value", "-1"}, "Please enter a positive integer."},
        {{"antenna", "3", "--value", "4294967296"}, "Please enter a positive integer."},
        {{"antenna", "3", "--value", "1.5"}, "Please enter a positive integer."},
        {{"antenna", "3", "--name", "two\nlines"}, "antenna 3 name refused: a name is one line"},
        {{"antenna", "3", "--name", std::string(kMaxNameBytes + 1, 'x')}, "antenna 3 name refused: a name is at most"},
        {{"antenna", "3", "--name", "ok", "--value", "x"}, "value \"x\" refused"},
        {{"antenna", "11", "--value", "1"}, "antenna 11 refused: antennas count from 1 to 10"},
        {{"antenna", "0", "--value", "1"}, "antennas count from 1 to 10"},
        {{"antenna", "no such", "--value", "1"}, "not a number from 1 to 10 nor the name of any antenna"},
        {{"antenna", "3"}, "nothing to change"},
        {{"antenna", "3", "--colour", "red"}, "unknown option \"--colour\""},
        {{"antenna", "3", "--value", "1", "--value", "2"}, "--value is given twice"},
        {{"antenna", "3", "--value"}, "--value needs a value"},
        {{"band", "2", "--low", "7.1"}, "band 2 low edge \"7.1\" refused: Please enter an integer."},
        {{"band", "2", "--high", "2147483648"}, "band 2 high edge \"2147483648\" refused: Please enter an integer."},
        {{"band", "2", "--high", ""}, "Please enter an integer."},
        {{"band", "40m", "--low", "7000", "--high", "7,2"}, "band 3 high edge \"7,2\" refused"},
        {{"band", "2", "--name", "a\rb"}, "band 2 name refused"},
        {{"band", "2", "--name", ""}, "band 2 name refused: a name is not empty"},
        {{"band", "2", "--name", "tab\there"}, "band 2 name refused: the name has bytes that are not printable"},
        {{"antenna", "1", "--name", std::string(32768, 'x')}, "is longer than the dialogs allow"},
        {{"band", "2", "--low", "-5"}, "band 2 low edge \"-5\" refused: a band edge is from 0 to 2147483647 kHz"},
        {{"assign", "20m"}, "expected BAND ANTENNA"},
        {{"assign", "20m", "12"}, "antenna 12 refused"},
        {{"assign", "2m", "1"}, "band \"2m\" refused"},
        {{"paint"}, "unknown command \"paint\""},
        {{"show", "more"}, "settings show takes nothing more"},
    };
    const std::string before = Slurp(m_path);
    for (const auto& c : cases) {
        EXPECT_EQ(Run(c.args), 2) << c.message;
        EXPECT_NE(m_err.str().find(c.message), std::string::npos) << m_err.str();
        EXPECT_EQ(m_err.str().find('\n'), m_err.str().size() - 1) << "one line: " << m_err.str();
        EXPECT_EQ(Slurp(m_path), before) << c.message;
    }
    // Two antennas of one name are no name to select by.
    ASSERT_EQ(Run({"antenna", "2", "--name", "dipole"}), 0);
    ASSERT_EQ(Run({"antenna", "4", "--name", "dipole"}), 0);
    const std::string named = Slurp(m_path);
    EXPECT_EQ(Run({"assign", "1", "dipole"}), 2);
    EXPECT_NE(m_err.str().find("2 antennas have that name"), std::string::npos);
    EXPECT_EQ(Slurp(m_path), named);
    // A refused edit of a file that is not there creates none.
    const std::string fresh = m_dir + "/new/Kelvaneer12.ini";
    EXPECT_EQ(Run({"antenna", "1", "--value", "x"}, fresh), 2);
    EXPECT_NE(::access(fresh.c_str(), F_OK), 0);
    // A settings file that cannot be read is not replaced by defaults, whatever the reason.
    const std::string loop = m_dir + "/loop";
    ASSERT_EQ(::symlink(loop.c_str(), loop.c_str()), 0);
    const std::string pipe = m_dir + "/pipe";  // refused unopened: opening it would wait for a writer
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    for (const auto& [path, why] :
         {std::pair{m_dir, "not a regular file"}, {pipe, "not a regular file"}, {loop, std::strerror(ELOOP)}}) {
        EXPECT_EQ(Run({"antenna", "1", "--value", "7"}, path), 1) << why;
        EXPECT_NE(m_err.str().find(why), std::string::npos) << m_err.str();
    }
    std::remove(loop.c_str());
}

TEST_F(SettingsCommand, EditsReachTheFileInItsLayout) {
    ASSERT_EQ(Run({"antenna", "5", "--name", "20m beam", "--value", " 300 "}), 0) << m_err.str();
    EXPECT_NE(m_err.str().find("only the low byte, 0x2C"), std::string::npos);
    ASSERT_EQ(Run({"band", "20m", "--name", "20 m", "--low", "14350", "--high", "14000"}), 0);
    EXPECT_NE(m_err.str().find("never matches"), std::string::npos);
    ASSERT_EQ(Run({"band", "2", "--high", "7100"}), 0);
    EXPECT_NE(m_err.str().find("note: band 2 overlaps band 3 (40m, 7000 to 7200 kHz): where they overlap, band 3 wins"),
              std::string::npos)
        << m_err.str();
    ASSERT_EQ(Run({"assign", "20 m", "20m beam"}), 0);
    ASSERT_EQ(Run({"assign", "10", "1"}), 0);
    const std::string fresh = m_dir + "/new/Kelvaneer12.ini";
    ASSERT_EQ(Run({"band", "1", "--low", "5"}, fresh), 0);

    Station s;
    ASSERT_TRUE(LoadSettings(m_path, s.tables, s.bands));
    EXPECT_EQ(s.tables.m_antName[4], "20m beam");
    EXPECT_EQ(s.tables.m_antValue[4], 300u);
    EXPECT_EQ(s.bands.name[4], "20 m");
    EXPECT_EQ(s.bands.low[4], 14350);
    EXPECT_EQ(s.bands.high[4], 14000);
    EXPECT_EQ(s.tables.m_bandAntenna[4], 4);
    EXPECT_EQ(s.tables.m_bandAntenna[9], 0);
    Station first;
    ASSERT_TRUE(LoadSettings(fresh, first.tables, first.bands));
    EXPECT_EQ(first.bands.low[0], 5);
    EXPECT_EQ(first.tables.m_antName[9], "Ant #10");  // the first-start defaults elsewhere

    ASSERT_EQ(Run({"show"}), 0);
    EXPECT_NE(m_out.str().find("20m beam"), std::string::npos);
    EXPECT_NE(m_out.str().find("300 (0x2C)"), std::string::npos);
    EXPECT_NE(m_out.str().find("never matches"), std::string::npos);
}

// A short file is shown and edited with a warning; a damaged one is shown with
// its odd bytes escaped and is not edited.
TEST_F(SettingsCommand, ShortAndDamagedFilesAreShownAndOnlyShortOnesEdited) {
    const std::string good = Slurp(m_path);
    const struct {
        std::string bytes;
        const char* warning;
        const char* shown;
        int editExit;
    } cases[] = {
        {good.substr(0, 200), "is cut short: it ends before the end of antenna 3's name", "160m antenna", 0},
        {good.substr(0, 164) + "\x1B" + good.substr(165), "is damaged: antenna 1's name has bytes", "\\x1B60m", 1},
    };
    for (const auto& c : cases) {
        std::ofstream(m_path, std::ios::binary | std::ios::trunc) << c.bytes;
        ASSERT_EQ(Run({"show"}), 0);
        EXPECT_NE(m_err.str().find(c.warning), std::string::npos) << m_err.str();
        EXPECT_NE(m_out.str().find(c.shown), std::string::npos) << m_out.str();
        EXPECT_EQ(m_out.str().find('\x1B'), std::string::npos) << "never raw";
        EXPECT_EQ(Run({"antenna", "9", "--value", "1"}), c.editExit) << m_err.str();
        EXPECT_NE(m_err.str().find(c.warning), std::string::npos) << m_err.str();
        Station s;
        EXPECT_EQ(ReadSettingsFile(m_path, s.tables, s.bands).state == SettingsState::kLoaded, c.editExit == 0);
        EXPECT_EQ(Slurp(m_path) == c.bytes, c.editExit == 1);
    }
}

// Writes fail past 100 bytes, as on a full disk: no success line, and the
// message says what is left.
TEST_F(SettingsCommand, AFailedSavePrintsNoSuccessAndSaysWhatIsLeft) {
    for (const auto& [path, says] : {std::pair{m_path, "; the file is unchanged\n"},
                                     {m_dir + "/new/Kelvaneer12.ini", "; nothing was written\n"}}) {
        const std::string before = Slurp(path);
        const pid_t child = ::fork();
        if (child == 0) {
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{100, 100};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            const int rc = Run({"antenna", "1", "--value", "9"}, path);
            std::fprintf(stderr, "%s", m_err.str().c_str());
            ::_exit(rc == 1 && m_out.str().empty() && m_err.str().find(says) != std::string::npos ? 0 : 1);
        }
        EXPECT_EQ(WaitExit(child), 0) << says;
        EXPECT_EQ(Slurp(path), before);
    }
}

// Four edits at once by the built program, 100 rounds each on an antenna of
// its own: every edit lands, none undoes another, and the file keeps its mode
// and group whatever the editing user's umask.
TEST_F(SettingsCommand, ConcurrentEditsAllLandAndKeepTheFilesModeAndGroup) {
    // 120 spawns of the sanitized program: enough to interleave the writers, few
    // enough to finish far inside the timeout on a loaded two-core machine.
    constexpr int kWriters = 4, kRounds = 30;
    const gid_t group = ::getuid() == 0 ? 65534 : ::getegid();
    ASSERT_EQ(::chown(m_path.c_str(), static_cast<uid_t>(-1), group), 0);
    ASSERT_EQ(::chmod(m_path.c_str(), 0640), 0);
    const mode_t umaskBefore = ::umask(077);
    std::atomic<int> failures{0}, lost{0};
    std::vector<std::thread> writers;
    for (std::size_t w = 0; w < kWriters; ++w)
        writers.emplace_back([&, w] {
            const std::string out = m_dir + ".out" + std::to_string(w), err = m_dir + ".err" + std::to_string(w);
            auto mine = static_cast<std::uint32_t>(w + 1);  // DemoStation's
            // Only this writer changes its antenna: any other value there is an edit undone.
            const auto kept = [&] {
                Station s;
                return LoadSettings(m_path, s.tables, s.bands) && s.tables.m_antValue[w] == mine;
            };
            for (std::uint32_t r = 101; r <= 100 + kRounds; ++r) {
                const bool before = kept();
                const std::vector<std::string> edit{"--settings",          m_path,    "settings",       "antenna",
                                                    std::to_string(w + 1), "--value", std::to_string(r)};
                if (WaitExit(SpawnKelvane(edit, out, err)) == 0 && !Slurp(out).empty())
                    mine = r;
                else if (failures++ == 0)
                    ADD_FAILURE() << Slurp(err);
                lost += !(kept() && before);
            }
            std::remove(out.c_str());
            std::remove(err.c_str());
        });
    for (auto& t : writers) t.join();
    ::umask(umaskBefore);
    RecordProperty("failures", failures.load());
    RecordProperty("lost", lost.load());
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(lost.load(), 0) << "rounds that saw an edit undone";
    struct stat st {};
    ASSERT_EQ(::stat(m_path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_gid, group);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_dir), {}), 1) << "a temporary was left";
}

}  // namespace
}  // namespace kelvane::svc::test
