// A save cut short by a killed process or a full disk leaves the old file or the
// new one, never a mix. POSIX only: it forks and sets resource limits.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>

#include "settings/settings_file.h"

using namespace kelvane;
namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Two versions of the settings whose files differ everywhere and take a while to write.
void MakeVersion(char fill, SwitcherTables& t, BandTable& b) {
    for (auto& name : t.m_antName) name.assign(32 * 1024, fill);
    b.name[0].assign(64 * 1024, fill);
    t.m_portAddr = fill;
}

class InterruptedSave : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("kelvane-interrupted-" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        path = (dir / kSettingsFileName).string();
        MakeVersion('a', oldTables, oldBands);
        MakeVersion('b', newTables, newBands);
        oldBytes = SerializeSettings(oldTables, oldBands);
        newBytes = SerializeSettings(newTables, newBands);
    }
    void TearDown() override { fs::remove_all(dir); }

    fs::path dir;
    std::string path, oldBytes, newBytes;
    SwitcherTables oldTables, newTables;
    BandTable oldBands, newBands;
};

}  // namespace

TEST_F(InterruptedSave, KilledMidSaveLeavesOldOrNewFile) {
    std::mt19937 rng(12345);
    int killedMidSave = 0;
    // At least 60 kills, and on until some landed inside a save: on a loaded
    // machine the saver may be scheduled late, and a kill before its first
    // save proves nothing either way.
    for (int round = 0; round < 60 || (killedMidSave == 0 && round < 600); ++round) {
        ASSERT_TRUE(SaveSettings(path, oldTables, oldBands));
        int started[2];
        ASSERT_EQ(::pipe(started), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(started[0]);
            ::close(started[1]);                               // the parent's read returns: saving starts now
            for (;;) SaveSettings(path, newTables, newBands);  // until killed
        }
        ::close(started[1]);
        char none;
        (void)!::read(started[0], &none, 1);
        ::close(started[0]);
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % 20000));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        const std::string now = ReadFile(path);
        ASSERT_TRUE(now == oldBytes || now == newBytes) << "round " << round << ": " << now.size() << " bytes";
        // A temporary left behind shows that this kill landed inside a save.
        bool left = false;
        for (const auto& e : fs::directory_iterator(dir))
            if (e.path().filename() != kSettingsFileName) left = fs::remove(e.path());
        killedMidSave += left;
    }
    EXPECT_GT(killedMidSave, 0) << "no kill interrupted a save: the test proved nothing";
    RecordProperty("killed_mid_save", killedMidSave);
}

TEST_F(InterruptedSave, FullDiskFailsCleanly) {
    ASSERT_TRUE(SaveSettings(path, oldTables, oldBands));
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // A file-size limit makes writes fail like a full disk would.
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{64 * 1024, 64 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::_exit(SaveSettings(path, newTables, newBands) ? 1 : 0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the save claimed success on a full disk";
    EXPECT_EQ(ReadFile(path), oldBytes);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 1) << "a temporary was left";
}
