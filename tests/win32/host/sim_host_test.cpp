// The simulated host radio as demos, benchmarks and the link tests use it.
#include <gtest/gtest.h>
#include <windows.h>
#include <ole2.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/tables.h"
#include "host/host_contract.h"
#include "host/host_link.h"
#include "sim_host_process.h"
#include "tools/sim_host_options.h"

using namespace kelvane;
using namespace kelvane::simhost;
using namespace kelvane::testing;

namespace {

struct Change {
    unsigned long long micros;
    std::string value;
};

// The "change <microseconds> <value>" lines, in order.
std::vector<Change> Changes(const std::vector<std::string>& lines) {
    std::vector<Change> out;
    for (const std::string& line : lines) {
        std::istringstream in(line);
        std::string word, kind, value;
        Change c;
        if (in >> word >> c.micros >> kind && word == "change") {
            std::getline(in >> std::ws, value);
            c.value = value.empty() ? kind : kind + " " + value;
            out.push_back(c);
        }
    }
    return out;
}

std::vector<std::string> Values(const std::vector<Change>& changes) {
    std::vector<std::string> out;
    for (const Change& c : changes) out.push_back(c.value);
    return out;
}

bool HostIsRegistered(CLSID& clsid) { return SUCCEEDED(CLSIDFromProgID(kHostProgId, &clsid)); }

std::string ClassProgId(const CLSID& clsid) {
    wchar_t text[64];
    StringFromGUID2(clsid, text, 64);
    char value[128] = {};
    LONG size = sizeof value;
    const std::string key = "CLSID\\" + std::string(text, text + lstrlenW(text)) + "\\ProgID";
    if (RegQueryValueA(HKEY_CLASSES_ROOT, key.c_str(), value, &size) != ERROR_SUCCESS) return {};
    return value;
}

}  // namespace

TEST(SimHostOptions, AcceptsEachModeAndRefusesWhatItCannotServe) {
    const struct {
        std::vector<std::string> args;
        bool ok;
    } cases[] = {
        {{"--freq", "14000000"}, true},
        {{"--freq", "7200000.4", "--quit-event", "x"}, true},
        {{"--text", "abc"}, true},
        {{"--fail-read"}, true},
        {{"--steps", "7100000:50,14100000:0"}, true},
        {{"--sweep", "--period", "10", "--repeat", "0"}, true},
        {{"--steps", "1:1", "--repeat", "3"}, true},
        {{"--window"}, true},
        {{"--window", "--freq", "7100000"}, true},
        {{"--register"}, true},
        {{"--unregister"}, true},
        {{}, false},
        {{"--register", "--freq", "1"}, false},
        {{"--freq"}, false},
        {{"--freq", "abc"}, false},
        {{"--freq", "14000000x"}, false},
        {{"--freq", "1", "--text", "x"}, false},
        {{"--steps", "7100000"}, false},
        {{"--steps", "7100000:-5"}, false},
        {{"--steps", "7100000:5,"}, false},
        {{"--period", "5", "--freq", "1"}, false},
        {{"--repeat", "2", "--freq", "1"}, false},
        {{"--window", "--text", "abc"}, false},
        {{"--window", "--sweep"}, false},
        {{"--script", "no-such-script.txt"}, false},
        {{"--bogus"}, false},
    };
    for (const auto& c : cases) {
        Options opt;
        std::string error;
        std::string joined;
        for (const auto& a : c.args) joined += a + " ";
        EXPECT_EQ(ParseOptions(c.args, opt, error), c.ok) << joined << "-> " << error;
        EXPECT_EQ(error.empty(), c.ok) << joined;
    }
}

TEST(SimHostOptions, ScriptsSkipCommentsAndBlankLinesAndRefuseBadSteps) {
    std::vector<Step> steps;
    std::string error;
    ASSERT_TRUE(ParseScript("# warm-up\n\n7100000 100\r\n  14100000.5\t0\n", steps, error)) << error;
    ASSERT_EQ(steps.size(), 2u);
    EXPECT_EQ(steps[0].hertz, 7100000.0);
    EXPECT_EQ(steps[0].ms, 100u);
    EXPECT_EQ(steps[1].hertz, 14100000.5);
    EXPECT_EQ(steps[1].ms, 0u);

    for (const char* bad : {"7100000\n", "7100000 100 5\n", "7,1 100\n", "7100000 1.5\n", "", "# only\n"}) {
        steps.clear();
        EXPECT_FALSE(ParseScript(bad, steps, error)) << bad;
    }
}

TEST(SimHostOptions, SweepVisitsEveryDefaultBand) {
    const BandTable bands;
    const std::vector<Step> steps = SweepSteps(250);
    ASSERT_EQ(steps.size(), static_cast<std::size_t>(kBandCount));
    for (int i = 0; i < kBandCount; ++i) {
        EXPECT_GE(steps[i].hertz * 0.001, bands.low[i]) << bands.name[i];
        EXPECT_LE(steps[i].hertz * 0.001, bands.high[i]) << bands.name[i];
        EXPECT_EQ(steps[i].ms, 250u);
    }
}

TEST(SimHost, RegistersAndUnregistersItsProgId) {
    CLSID clsid;
    ASSERT_EQ(RunSimHost("--unregister"), 0u);
    EXPECT_FALSE(HostIsRegistered(clsid));
    ASSERT_EQ(RunSimHost("--unregister"), 0u);  // nothing left to remove is no failure

    ASSERT_EQ(RunSimHost("--register"), 0u);
    ASSERT_TRUE(HostIsRegistered(clsid));
    EXPECT_EQ(ClassProgId(clsid), "Korvel2.Application");
    ASSERT_EQ(RunSimHost("--register"), 0u);
    EXPECT_TRUE(HostIsRegistered(clsid));
}

// An installed host keeps its registration; the simulator then runs under its class.
TEST(SimHost, LeavesAnInstalledHostsRegistrationAlone) {
    const char kForeign[] = "{0B1E4D2C-6A5F-4E3D-8C7B-9A0F1E2D3C4B}";
    ASSERT_EQ(RunSimHost("--unregister"), 0u);
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "Korvel2.Application\\CLSID", REG_SZ, kForeign, 0), ERROR_SUCCESS);

    std::string out;
    EXPECT_EQ(RunSimHost("--register", &out), 0u);
    EXPECT_NE(out.find("left alone"), std::string::npos) << out;
    EXPECT_EQ(RunSimHost("--unregister", &out), 0u);
    char value[64] = {};
    LONG size = sizeof value;
    EXPECT_EQ(RegQueryValueA(HKEY_CLASSES_ROOT, "Korvel2.Application\\CLSID", value, &size), ERROR_SUCCESS);
    EXPECT_STREQ(value, kForeign);

    {
        SimHostProcess host("--freq 21000000");
        EXPECT_TRUE(host.WaitForLine("ready")) << host.Transcript();
        struct : HostLinkView {
            void OnHostFrequency(double read) override { hertz = read; }
            void OnHostLost() override {}
            double hertz = 0;
        } view;
        HostLink link(view);
        link.OnHostTimer();
        EXPECT_EQ(view.hertz, 21000000.0);
    }

    RegDeleteKeyA(HKEY_CLASSES_ROOT, "Korvel2.Application\\CLSID");
    RegDeleteKeyA(HKEY_CLASSES_ROOT, "Korvel2.Application");
    EXPECT_EQ(RunSimHost("--register"), 0u);
}

TEST(SimHost, ScriptsPrintEachChangeWithItsTimeAndThenExit) {
    const auto script = std::filesystem::temp_directory_path() / "kelvane-sim-host-script.txt";
    std::ofstream(script) << "# three steps\n7100000 20\n14100000.5 20\n0 0\n";
    const struct {
        std::string args;
        std::vector<std::string> values;
    } cases[] = {
        {"--steps 7100000:20,14100000.5:20,0:0", {"hz 7100000", "hz 14100000.5", "hz 0"}},
        {"--script \"" + script.string() + "\"", {"hz 7100000", "hz 14100000.5", "hz 0"}},
        {"--steps 1:0,2:0 --repeat 2", {"hz 1", "hz 2", "hz 1", "hz 2"}},
        {"--sweep --period 0",
         {"hz 1875000", "hz 3750000", "hz 7100000", "hz 10300000", "hz 14175000", "hz 18118000", "hz 21225000",
          "hz 24940000", "hz 28850000", "hz 52000000"}},
    };
    for (const auto& c : cases) {
        SimHostProcess host(c.args);
        ASSERT_TRUE(host.WaitForExit()) << c.args;
        EXPECT_EQ(host.ExitCode(), 0u) << host.Transcript();
        const std::vector<Change> changes = Changes(host.Lines());
        EXPECT_EQ(Values(changes), c.values) << host.Transcript();
        for (std::size_t i = 1; i < changes.size(); ++i)
            EXPECT_LE(changes[i - 1].micros, changes[i].micros) << host.Transcript();
        const std::vector<std::string> lines = host.Lines();
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back().rfind("exit ", 0), 0u) << host.Transcript();
    }
    std::filesystem::remove(script);
}

TEST(SimHost, RefusesBadOptionsWithUsage) {
    for (const char* args : {"", "--freq abc", "--bogus", "--register --freq 1"}) {
        std::string out;
        EXPECT_EQ(RunSimHost(args, &out), 2u) << args;
        EXPECT_NE(out.find("usage:"), std::string::npos) << out;
    }
}

// A person types a frequency in kHz and presses Set; the link reads it.
TEST(SimHost, WindowServesWhatIsTyped) {
    SimHostProcess host("--window --freq 7100000");
    ASSERT_TRUE(host.WaitForLine("ready")) << host.Transcript();
    HWND window = FindWindowW(nullptr, L"Simulated host radio");
    ASSERT_NE(window, nullptr);
    HWND edit = GetDlgItem(window, 100);
    HWND set = GetDlgItem(window, IDOK);
    ASSERT_NE(edit, nullptr);
    ASSERT_NE(set, nullptr);

    struct : HostLinkView {
        void OnHostFrequency(double read) override { hertz = read; }
        void OnHostLost() override { ended = true; }
        double hertz = 0;
        bool ended = false;
    } view;
    HostLink link(view);
    link.OnHostTimer();
    EXPECT_EQ(view.hertz, 7100000.0);

    SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("14074.5"));
    SendMessageA(set, BM_CLICK, 0, 0);
    std::string line;
    ASSERT_TRUE(host.WaitForLine("change", &line)) << host.Transcript();
    EXPECT_NE(line.find(" hz 14074500"), std::string::npos) << line;
    link.OnHostTimer();
    EXPECT_EQ(view.hertz, 14074500.0);

    char status[64] = {};
    SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("abc"));
    SendMessageA(set, BM_CLICK, 0, 0);
    GetWindowTextA(GetDlgItem(window, 101), status, sizeof status);
    EXPECT_STREQ(status, "Not a frequency in kHz");
    link.OnHostTimer();
    EXPECT_EQ(view.hertz, 14074500.0);

    PostMessageA(window, WM_CLOSE, 0, 0);
    ASSERT_TRUE(host.WaitForExit());
    EXPECT_EQ(host.ExitCode(), 0u) << host.Transcript();
    link.OnHostTimer();
    EXPECT_TRUE(view.ended);
}
