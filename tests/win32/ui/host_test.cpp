// The main window's timer on a real host: the simulated host radio in its own
// process, reached through cross-process COM as the program reaches it.

#include <fstream>
#include <iterator>
#include <string>

#include "modal_script.h"
#include "settings/settings_file.h"
#include "sim_host_process.h"
#include "ui/win32/resource.h"
#include "ui_test.h"

namespace kelvane::testing {
namespace {

class WithHost : public SwitcherWindowTest {
protected:
    // The main window once its frequency field shows `text`.
    static ModalScript::Finder FieldShows(const std::string& text) {
        return [text] {
            const HWND w = FindActiveWindow(kMainTitle);
            return w && Text(w, IDC_FREQ) == text ? w : nullptr;
        };
    }

    ModalScript script;
};

TEST_F(WithHost, PolledFrequencySwitchesAndALostHostEndsTheRun) {
    SimHostProcess host("--freq 14000000");
    ASSERT_TRUE(host.WaitForLine("ready")) << host.Transcript();
    Open();
    script.When("the host's frequency in the field", FieldShows("14000.000"), [&](HWND w) {
        EXPECT_EQ(PortRecorder::writes.front(), (PortRecorder::Write{0x278, 0x01}));
        EXPECT_EQ(Selection(w, IDC_NOW_ANTENNA), 0);
        EXPECT_TRUE(dlg->m_host.m_bConnected);
        ASSERT_TRUE(host.Quit());
    });
    EXPECT_EQ(dlg->DoModal(), IDOK) << "ended by the host link, not by the user";
    EXPECT_FALSE(dlg->m_host.m_bConnected);
    Close();
    EXPECT_TRUE(SettingsFileExists());
}

// While Config is open the main window's timer still polls and switches;
// a host lost meanwhile ends the run once Config is closed, and what Config
// confirmed is still taken over and saved.
TEST_F(WithHost, PollingGoesOnUnderConfigAndTheEndWaitsForIt) {
    SimHostProcess host("--freq 7100000");
    ASSERT_TRUE(host.WaitForLine("ready")) << host.Transcript();
    Open();
    script.When("the host's frequency in the field", FieldShows("7100.000"), [&](HWND w) { Click(w, IDC_CONFIG); });
    script.On("Config", [&](HWND) { PortRecorder::writes.clear(); });
    script.When(
        "a poll while Config is open",
        [] { return PortRecorder::writes.empty() ? nullptr : FindActiveWindow("Config"); },
        [&](HWND) {
            EXPECT_EQ(PortRecorder::writes.front(), (PortRecorder::Write{0x278, 0x01}));
            ASSERT_TRUE(host.Quit());
        });
    script.When(
        "the switcher ended behind Config",
        [] {
            const HWND main = FindWindowA(nullptr, kMainTitle);
            return main && !IsWindowVisible(main) ? FindActiveWindow("Config") : nullptr;
        },
        [&](HWND config) {
            SetDlgItemTextA(config, IDC_ANT_NAME1, "Yagi");
            Click(config, IDOK);
        });
    EXPECT_EQ(dlg->DoModal(), IDOK);
    Close();
    std::ifstream in(kSettingsFileName, std::ios::binary);
    SwitcherTables saved;
    BandTable savedBands;
    ParseSettings(std::string(std::istreambuf_iterator<char>(in), {}), saved, savedBands);
    EXPECT_EQ(saved.m_antName[0], "Yagi");
}

}  // namespace
}  // namespace kelvane::testing
