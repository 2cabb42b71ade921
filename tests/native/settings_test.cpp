#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "settings/settings_file.h"

#if defined(_WIN32)
#include <process.h>
#else
#include <unistd.h>
#endif

using namespace kelvane;
namespace fs = std::filesystem;

namespace {

std::string LE(std::initializer_list<std::uint32_t> values) {
    std::string out;
    for (auto v : values)
        for (int k = 0; k < 4; ++k) out.push_back(static_cast<char>((v >> (8 * k)) & 0xFF));
    return out;
}

// The defaults, spelled out byte for byte.
std::string DefaultFile() {
    std::string f;
    f += LE({0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    f += LE({1750, 3500, 7000, 10100, 14000, 18068, 21000, 24890, 28000, 50000});
    f += LE({2000, 4000, 7200, 10500, 14350, 18168, 21450, 24990, 29700, 54000});
    f += LE({0x278});
    f += LE({1, 2, 4, 8, 16, 32, 64, 128, 0, 0});
    f += std::string("Ant #1\0Ant #2\0Ant #3\0Ant #4\0Ant #5\0Ant #6\0Ant #7\0Ant #8\0Ant #9\0Ant #10\0", 71);
    f += std::string(
        "160m\0"
        "80m\0"
        "40m\0"
        "30m\0"
        "20m\0"
        "17m\0"
        "15m\0"
        "12m\0"
        "10m\0"
        "6m\0",
        40);
    return f;
}

// Other checkouts on the machine may run this suite at the same time.
int ProcessId() {
#if defined(_WIN32)
    return ::_getpid();
#else
    return ::getpid();
#endif
}

class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("kelvane-" + std::to_string(ProcessId()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        path = (dir / kSettingsFileName).string();
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(dir, fs::perms::owner_all, ec);
        fs::remove_all(dir, ec);
    }
    void Write(const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }
    // Whatever a save left beside the file shows here.
    std::ptrdiff_t Entries() const { return std::distance(fs::directory_iterator(dir), {}); }
    std::string Read() {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    fs::path dir;
    std::string path;
    SwitcherTables tables;
    BandTable bands;
};

}  // namespace

TEST_F(SettingsFile, DefaultsSaveTo275ExactBytes) {
    const std::string expected = DefaultFile();
    ASSERT_EQ(expected.size(), 275u);
    ASSERT_TRUE(SaveSettings(path, tables, bands));
    EXPECT_EQ(Read(), expected);
    EXPECT_EQ(Entries(), 1);
}

TEST_F(SettingsFile, EditedTablesRoundTripUnchanged) {
    tables.m_bandAntenna = {9, 8, 7, 6, 5, 4, 3, 2, 1, -1};
    tables.m_portAddr = -5;
    tables.m_antValue[9] = 0xDEADBEEF;
    tables.m_antName[0] = "Beam \xE9\xFF north";  // bytes above 0x7F
    tables.m_antName[1] = "";
    bands.name[9] = "  six  metres ";
    bands.low[3] = 10500;
    bands.high[3] = 10100;  // inverted: kept as entered
    bands.low[1] = -2147483647 - 1;
    ASSERT_TRUE(SaveSettings(path, tables, bands));
    SwitcherTables t2;
    BandTable b2;
    ASSERT_TRUE(LoadSettings(path, t2, b2));
    EXPECT_EQ(t2.m_bandAntenna, tables.m_bandAntenna);
    EXPECT_EQ(t2.m_portAddr, -5);
    EXPECT_EQ(t2.m_antValue, tables.m_antValue);
    EXPECT_EQ(t2.m_antName, tables.m_antName);
    EXPECT_EQ(b2.name, bands.name);
    EXPECT_EQ(b2.low, bands.low);
    EXPECT_EQ(b2.high, bands.high);
}

TEST_F(SettingsFile, MissingOrUnreadableFileKeepsEveryDefault) {
    tables.m_antName[0] = "kept";
    EXPECT_EQ(ReadSettingsFile((dir / "no" / "such").string(), tables, bands).state, SettingsState::kMissing);
    EXPECT_FALSE(LoadSettings(path, tables, bands));  // missing
    fs::create_directory(path);                       // a directory cannot be read as the file
    EXPECT_EQ(ReadSettingsFile(path, tables, bands).state, SettingsState::kUnreadable);
    EXPECT_EQ(tables.m_antName[0], "kept");
    EXPECT_EQ(bands.name[0], "160m");
}

TEST_F(SettingsFile, ShortFilesKeepUnreadIntegersAndEmptyUnreadNames) {
    const std::string full = DefaultFile();
    const struct {
        std::size_t length;
        int bandAntenna0;
        std::int32_t port;
        const char* ant0;
        const char* band0;
    } cases[] = {
        {0, 0, 0x278, "", ""},
        {1, 0, 0x278, "", ""},  // a partial integer keeps its value
        {41, 7, 0x278, "", ""},
        {124, 7, 0x3BC, "", ""},
        {164, 7, 0x3BC, "", ""},
        {167, 7, 0x3BC, "Ant", ""},  // cut inside a name: the bytes that were there
        {272, 7, 0x3BC, "Ant #1", "160m"},
    };
    for (const auto& c : cases) {
        std::string bytes = full;
        bytes.replace(0, 4, LE({7}));
        bytes.replace(120, 4, LE({0x3BC}));
        Write(bytes.substr(0, c.length));
        SwitcherTables t;
        BandTable b;
        ASSERT_TRUE(LoadSettings(path, t, b));
        EXPECT_EQ(t.m_bandAntenna[0], c.bandAntenna0) << c.length;
        EXPECT_EQ(t.m_portAddr, c.port) << c.length;
        EXPECT_EQ(t.m_antName[0], c.ant0) << c.length;
        EXPECT_EQ(b.name[0], c.band0) << c.length;
        EXPECT_EQ(b.name[9], "") << c.length;
        EXPECT_EQ(b.low[9], 50000) << c.length;  // the default where nothing was read
    }
}

TEST_F(SettingsFile, BytesAfterTheTwentiethNameAreIgnored) {
    Write(DefaultFile() + std::string("junk\0more", 9));
    tables.m_antName[3] = "x";
    ASSERT_TRUE(LoadSettings(path, tables, bands));
    EXPECT_EQ(tables.m_antName[3], "Ant #4");
    EXPECT_EQ(bands.name[9], "6m");
    EXPECT_EQ(SerializeSettings(tables, bands), DefaultFile());
}

TEST_F(SettingsFile, FailedSaveLeavesThePreviousFileAndNoTemporary) {
    Write("previous");
#if !defined(_WIN32)
    if (::getuid() != 0) {
        fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_FALSE(SaveSettings(path, tables, bands));
        fs::permissions(dir, fs::perms::owner_all);
        EXPECT_EQ(Read(), "previous");
    }
#endif
    // The replacement cannot happen while the target is a non-empty directory.
    const std::string blocked = (dir / "blocked").string();
    fs::create_directories(fs::path(blocked) / "inside");
    std::string reason;
    EXPECT_FALSE(SaveSettings(blocked, tables, bands, &reason));
    EXPECT_NE(reason, "") << "the system's reason is passed on";
    EXPECT_TRUE(fs::is_directory(blocked));
    EXPECT_EQ(Entries(), 2) << "the file and the directory, no temporary";
    EXPECT_EQ(Read(), "previous");
}

// An earlier save cut short left its temporary, marked read-only.
TEST_F(SettingsFile, StaleReadOnlyTemporaryDoesNotBlockTheSave) {
    std::ofstream(path + ".tmp", std::ios::binary) << "stale";
    fs::permissions(path + ".tmp", fs::perms::owner_read);
    std::string reason;
    EXPECT_TRUE(SaveSettings(path, tables, bands, &reason)) << reason;
    EXPECT_EQ(Read(), DefaultFile());
    EXPECT_EQ(Entries(), 1);
    // Where the stale file's read-only mark can be written through (root, Wine),
    // it must not pass to the settings file and refuse the next save.
    EXPECT_TRUE(SaveSettings(path, tables, bands, &reason)) << reason;
#if !defined(_WIN32)
    // A link planted there is removed, not written through.
    std::ofstream(dir / "victim") << "victim";
    fs::create_symlink(dir / "victim", path + ".tmp");
    EXPECT_TRUE(SaveSettings(path, tables, bands));
    EXPECT_EQ(fs::file_size(dir / "victim"), 6u);
#endif
}

TEST_F(SettingsFile, SaveReplacesAnExistingFileWhole) {
    Write(std::string(4096, 'x'));
    ASSERT_TRUE(SaveSettings(path, tables, bands));
    EXPECT_EQ(Read(), DefaultFile());
}

TEST(SettingsParse, NamesKeepTheirFirstBytesAndTheLayoutStaysAligned) {
    const std::string fixed = DefaultFile().substr(0, 164);
    const struct {
        const char* what;
        std::string names;
        std::size_t first;   // the first name's length after loading
        const char* second;  // the second name after loading
    } cases[] = {
        {"longest kept whole", std::string(kMaxNameBytes, 'A') + '\0' + "next" + '\0', kMaxNameBytes, "next"},
        {"longer, cut", std::string(kMaxNameBytes + 1000, 'A') + '\0' + "next" + '\0', kMaxNameBytes, "next"},
        {"no terminator", std::string(100000, 'A'), kMaxNameBytes, ""},
    };
    for (const auto& c : cases) {
        SwitcherTables t;
        BandTable b;
        ParseSettings(fixed + c.names, t, b);
        EXPECT_EQ(t.m_antName[0].size(), c.first) << c.what;
        EXPECT_EQ(t.m_antName[0].find_first_not_of('A'), std::string::npos) << c.what;
        EXPECT_EQ(t.m_antName[1], c.second) << c.what;
        EXPECT_EQ(b.name[0], "") << c.what;
    }
}

TEST(SettingsParse, EachFileHasOneOutcomeNamingWhatIsWrong) {
    const std::string full = DefaultFile();
    const auto name = [&](const std::string& n) { return full.substr(0, 164) + n + '\0' + full.substr(171); };
    const struct {
        std::string bytes;
        SettingsState state;
        const char* reason;  // part of the reason, which starts with it
    } cases[] = {
        {full + "after the last name", SettingsState::kLoaded, ""},
        {name("\xE2\x9C\x93 \xC3\xB1" + std::string(32764, 'x')), SettingsState::kLoaded, ""},
        {full.substr(0, 272), SettingsState::kShort, "it ends before the end of band 10's name"},
        {full.substr(0, 163), SettingsState::kDamaged, "only 163 bytes"},
        {full.substr(0, 52) + LE({0x80000000u}) + full.substr(56), SettingsState::kDamaged,
         "band 4's low edge is -2147483648 kHz"},
        {name("tab\t"), SettingsState::kDamaged, "antenna 1's name has bytes that are not printable"},
        {name("C1 \xC2\x85"), SettingsState::kDamaged, "antenna 1's name has bytes"},
        {name("Latin-1 \xE9"), SettingsState::kDamaged, "antenna 1's name has bytes"},
        {name("surrogate \xED\xA0\x80"), SettingsState::kDamaged, "antenna 1's name has bytes"},
        {name(std::string(32768, 'x')), SettingsState::kDamaged, "antenna 1's name is longer than the dialogs allow"},
        {name(std::string(kMaxNameBytes + 1, 'x')), SettingsState::kDamaged, "antenna 1's name is longer"},
    };
    for (const auto& c : cases) {
        SwitcherTables t;
        BandTable b;
        const SettingsLoad load = ParseSettings(c.bytes, t, b);
        EXPECT_EQ(load.state, c.state) << c.reason;
        EXPECT_EQ(load.reason.rfind(c.reason, 0), 0u) << load.reason;
    }
    EXPECT_EQ(EscapedName("\xC3\xA9\x01\xE9\xC2\x85"), "\xC3\xA9\\x01\\xE9\\xC2\\x85");
}
