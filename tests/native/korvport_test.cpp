// What KorvPortDll.dll decides without Windows: config lines to outcomes, and
// how its USB backends hold on to a board that comes and goes.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "driver/config.h"
#include "driver/usb_link.h"

using namespace korvport;

// An example that the parser refuses would make the program's driver message
// the first thing a user sees after copying it.
TEST(KorvPortConfig, EveryShippedExampleChoosesItsBackendWithoutAProblem) {
    for (const char* backend : {"hardware", "journal", "ftdi", "hidrelay"}) {
        SCOPED_TRACE(backend);
        std::ifstream in(std::string(KELVANE_TEST_DATA) + "/../../driver/examples/" + backend + "/KorvPortDll.cfg");
        ASSERT_TRUE(in);
        const Config config = ParseConfig(std::string(std::istreambuf_iterator<char>(in), {}));
        EXPECT_STREQ(BackendName(config.backend), backend);
        EXPECT_EQ(config.problems, std::vector<std::string>{});
    }
}

TEST(KorvPortConfig, UsbBackendLinesToOutcomes) {
    const struct {
        std::string text;
        Backend backend;
        std::string serial;
        int index;
        bool invert;
        std::vector<std::string> problems;
    } cases[] = {
        {"backend=ftdi\n", Backend::Ftdi, "", -1, false, {}},
        {"backend = FTDI\nserial=FT1A2B3C\ninvert=on\n", Backend::Ftdi, "FT1A2B3C", -1, true, {}},
        {"index=3\nbackend=ftdi\n", Backend::Ftdi, "", 3, false, {}},
        {"backend=ftdi\nindex=31\ninvert=ON\ninvert=off\n", Backend::Ftdi, "", 31, false, {}},
        {"backend=hidrelay\nserial=QWERT\n", Backend::HidRelay, "QWERT", -1, false, {}},
        {"Backend=HidRelay\ninvert=on\n", Backend::HidRelay, "", -1, true, {}},
        // Refusals, each naming its line.
        {"backend=usb\n",
         Backend::Unknown,
         "",
         -1,
         false,
         {"line 1: unknown backend \"usb\" (hardware, journal, ftdi or hidrelay)"}},
        {"backend=ftdi\nserial=\n",
         Backend::Ftdi,
         "",
         -1,
         false,
         {"line 2: bad serial \"\" for ftdi (1 to 15 letters and digits)"}},
        {"backend=ftdi\nserial=FT1234567890ABCD\n",
         Backend::Ftdi,
         "FT1234567890ABCD",
         -1,
         false,
         {"line 2: bad serial \"FT1234567890ABCD\" for ftdi (1 to 15 letters and digits)"}},
        {"backend=ftdi\nserial=FT 12\n",
         Backend::Ftdi,
         "FT 12",
         -1,
         false,
         {"line 2: bad serial \"FT 12\" for ftdi (1 to 15 letters and digits)"}},
        {"serial=ABCD\ncolour=red\nbackend=hidrelay\n",
         Backend::HidRelay,
         "ABCD",
         -1,
         false,
         {"line 1: bad serial \"ABCD\" for hidrelay (5 letters and digits)", "line 2: unknown key \"colour\""}},
        // Found after the whole file is read, line 2 still comes before line 10.
        {"backend=hidrelay\nserial=ABCD\n#\n#\n#\n#\n#\n#\n#\ncolour=red\n",
         Backend::HidRelay,
         "ABCD",
         -1,
         false,
         {"line 2: bad serial \"ABCD\" for hidrelay (5 letters and digits)", "line 10: unknown key \"colour\""}},
        {"backend=hidrelay\nserial=AB-DE\n",
         Backend::HidRelay,
         "AB-DE",
         -1,
         false,
         {"line 2: bad serial \"AB-DE\" for hidrelay (5 letters and digits)"}},
        {"backend=ftdi\nindex=32\n",
         Backend::Ftdi,
         "",
         -1,
         false,
         {"line 2: index takes a device number from 0 to 31, got \"32\""}},
        {"backend=ftdi\nindex=-1\n",
         Backend::Ftdi,
         "",
         -1,
         false,
         {"line 2: index takes a device number from 0 to 31, got \"-1\""}},
        {"backend=ftdi\nindex=one\n",
         Backend::Ftdi,
         "",
         -1,
         false,
         {"line 2: index takes a device number from 0 to 31, got \"one\""}},
        {"backend=ftdi\nserial=FT1\nindex=0\n",
         Backend::Ftdi,
         "FT1",
         0,
         false,
         {"line 3: serial and index both name the board"}},
        {"backend=hidrelay\nindex=0\n",
         Backend::HidRelay,
         "",
         0,
         false,
         {"line 2: index applies to ftdi only; hidrelay boards are chosen by serial"}},
        {"backend=ftdi\ninvert=yes\n", Backend::Ftdi, "", -1, false, {"line 2: invert takes on or off, got \"yes\""}},
        {"backend=hardware\ninvert=on\nserial=AB\n",
         Backend::Hardware,
         "AB",
         -1,
         true,
         {"line 2: invert applies to the ftdi and hidrelay backends, not hardware",
          "line 3: serial applies to the ftdi and hidrelay backends, not hardware"}},
        {"backend=journal\nindex=1\n",
         Backend::Journal,
         "",
         1,
         false,
         {"line 2: index applies to the ftdi and hidrelay backends, not journal"}},
        {"backend=ftdi\nport=0x378\n", Backend::Ftdi, "", -1, false, {"line 2: unknown key \"port\""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const Config config = ParseConfig(c.text);
        EXPECT_EQ(config.backend, c.backend);
        EXPECT_EQ(config.serial, c.serial);
        EXPECT_EQ(config.index, c.index);
        EXPECT_EQ(config.invert, c.invert);
        EXPECT_EQ(config.problems, c.problems);
    }
}

namespace {

// A board whose presence and failures the test sets, and which records what reached it.
struct FakeBoard : UsbBoard {
    struct State {
        bool present = false;
        bool failWrites = false;
        int opens = 0;
        int closes = 0;
        std::vector<int> sent;
    };
    explicit FakeBoard(State& s) : state(s) {}
    bool Open(std::string& serial, std::string& why) override {
        ++state.opens;
        if (!state.present) return why = "unplugged", false;
        serial = "S1";
        return true;
    }
    bool Send(std::uint8_t value) override {
        if (state.failWrites) return false;
        state.sent.push_back(value);
        return true;
    }
    void Close() override { ++state.closes; }
    State& state;
};

}  // namespace

TEST(UsbLink, AbsentBoardsAreLookedForAtMostOnceASecondAndFoundAgain) {
    FakeBoard::State board;
    std::vector<std::string> log;
    {
        UsbLink link(std::make_unique<FakeBoard>(board), [&](const std::string& s) { log.push_back(s); });
        const struct {
            std::uint32_t now;
            bool present, failWrites;
            int value;
            bool sent;
            int opens;
            std::uint32_t retryIn;  // what MsUntilRetry says right after
        } steps[] = {
            {0xFFFFFE00u, false, false, 1, false, 1, 1000},  // absent at start; the clock is about to wrap
            {0xFFFFFFFFu, false, false, 2, false, 1, 489},   // within the second: not even looked for
            {0x000001E7u, true, false, 3, false, 1, 1},      // plugged in, but the second has not passed
            {0x000001E8u, true, false, 4, true, 2, 0},       // a second after the last try, across the wrap
            {0x00000201u, true, false, 5, true, 2, 0},       // open: straight through
            {0x00000300u, true, true, 6, false, 2, 1000},    // the write fails: closed
            {0x00000301u, true, false, 7, false, 2, 999},    // and left alone for a second
            {0x00000700u, true, false, 8, true, 3, 0},       // back
            {0x00000800u, false, true, 9, false, 3, 1000},   // unplugged mid-run
            {0x00000C00u, false, false, 10, false, 4, 1000},
            {0x00001000u, false, false, 11, false, 5, 1000},  // still away: tried, not told again
        };
        for (const auto& s : steps) {
            board.present = s.present;
            board.failWrites = s.failWrites;
            EXPECT_EQ(link.Write(static_cast<std::uint8_t>(s.value), s.now), s.sent) << "value " << s.value;
            EXPECT_EQ(board.opens, s.opens) << "value " << s.value;
            EXPECT_EQ(link.MsUntilRetry(s.now), s.retryIn) << "value " << s.value;
        }
        EXPECT_EQ(board.sent, (std::vector<int>{4, 5, 8}));
        EXPECT_EQ(board.closes, 2);
        board.present = true;
        EXPECT_TRUE(link.Write(12, 0x00001400u));
        // Dropped (a board that stopped answering): closed, and not looked for within the second.
        link.Drop(0x00001500u);
        EXPECT_EQ(board.closes, 3);
        EXPECT_FALSE(link.Write(13, 0x000018E7u));
        EXPECT_TRUE(link.Write(14, 0x000018E8u));
        EXPECT_EQ(board.opens, 7);
    }
    EXPECT_EQ(board.sent, (std::vector<int>{4, 5, 8, 12, 14}));
    EXPECT_EQ(board.closes, 4);  // the link closes an open board when it goes
    EXPECT_EQ(log,
              (std::vector<std::string>{"not found: unplugged", "found: S1", "lost: S1, write failed", "back: S1",
                                        "lost: S1, write failed", "not found: unplugged", "back: S1", "back: S1"}));
}

TEST(StatusLog, NeverGrowsPastItsLimitAndKeepsTheNewestWholeLines) {
    const std::size_t limit = 100;
    std::string text;
    for (int i = 0; i < 50; ++i) {
        const std::string line = "line " + std::to_string(i) + " of the status log";
        text = WithStatusLine(text, line, limit);
        ASSERT_LE(text.size(), limit) << i;
        ASSERT_EQ(text.back(), '\n');
        ASSERT_NE(text.find(line + "\n"), std::string::npos) << i;
    }
    EXPECT_EQ(text.rfind("(older lines dropped)\n", 0), 0u);
    // Every kept line is whole: each starts with "line ".
    for (std::size_t at = text.find('\n') + 1; at < text.size(); at = text.find('\n', at) + 1)
        EXPECT_EQ(text.compare(at, 5, "line "), 0) << text;
    const struct {
        std::string text, line, expected;
    } cases[] = {
        // One line longer than the whole limit is cut to fit.
        {text, std::string(300, 'x'), "(older lines dropped)\n" + std::string(77, 'x') + "\n"},
        // Old text without a line break near the cut: the new line still stays.
        {std::string(400, 'y'), "NEW LINE", "(older lines dropped)\nNEW LINE\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(WithStatusLine(c.text, c.line, limit), c.expected) << c.line;
}
