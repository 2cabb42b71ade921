// What KorvPortDll.dll decides without Windows: config lines to outcomes, and
// how its USB backends hold on to a board that comes and goes.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "driver/config.h"
#include "driver/status_log.h"

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
