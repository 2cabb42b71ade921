// The main window polling a host that serves hostile values: the simulated
// host in its own process, reached over COM as the program reaches it.

#include <cstdio>
#include <string>

#include "core/ctext.h"
#include "modal_script.h"
#include "running_host.h"
#include "settings/settings_file.h"
#include "sim_host_process.h"
#include "ui/win32/resource.h"
#include "ui_test.h"

namespace kelvane::testing {
namespace {

// Typed before the polls that count; left alone, it stays.
constexpr char kEarlier[] = "3550.000";
// How many reads the host must have answered after kEarlier was typed.
constexpr double kPolls = 3;

enum class Outcome {
    kSwitches,     // the field shows the text and the band's antenna is written
    kShowsOnly,    // the field shows the text, which lies in no band
    kLeavesField,  // no frequency: the field keeps what it had, the link stays
    kEndsRun,      // a failed read: the run ends by itself and saves
};

struct HostValueCase {
    const char* args;
    Outcome outcome;
    std::string field;  // for kSwitches and kShowsOnly
};

class HostValues : public SwitcherWindowTest {};

// Band 9 is moved to -1..1 kHz, where every text that does not read as a
// number lands (atof gives 0). What each number does is the core's rule
// (tested natively); here each kind of variant the host can serve crosses
// COM into the window once, and the window still answers the user after it.
TEST_F(HostValues, EachKindOfVariantSwitchesOnlyInABandAndTheWindowStillAnswers) {
    const HostValueCase cases[] = {
        {"--freq 14000000", Outcome::kSwitches, "14000.000"},
        {"--text 14000000", Outcome::kSwitches, "14000.000"},
        {"--freq -7000000", Outcome::kShowsOnly, "-7000.000"},
        {"--freq nan", Outcome::kLeavesField, ""},
        {"--empty", Outcome::kLeavesField, ""},
        {"--text abc", Outcome::kEndsRun, ""},
        {"--fail-read", Outcome::kEndsRun, ""},
    };

    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        std::remove(kSettingsFileName);
        SimHostProcess host(c.args);
        ASSERT_TRUE(host.WaitForLine("ready")) << host.Transcript();
        BandTable table;
        table.low[9] = -1;
        table.high[9] = 1;
        PortRecorder::Reset();
        Open(table);
        ModalScript script;

        if (c.outcome == Outcome::kEndsRun) {
            EXPECT_EQ(dlg->DoModal(), IDOK) << "ended by the link at its first read";
            EXPECT_FALSE(dlg->m_host.m_bConnected);
            EXPECT_FALSE(dlg->m_host.HoldsObject());
            EXPECT_EQ(PortRecorder::writes, Writes{});
            Close();
            EXPECT_TRUE(SettingsFileExists()) << "saved on the way out";
            continue;
        }

        double readsBefore = -1;
        bool reading = false;  // COM pumps messages: a nested tick must not read again
        script.On(kMainTitle, [&](HWND w) {
            SetDlgItemTextA(w, IDC_FREQ, kEarlier);
            PortRecorder::writes.clear();
            reading = true;
            readsBefore = HostReadCount();
            reading = false;
        });
        script.When(
            "three more reads answered",
            [&]() -> HWND {
                if (reading || readsBefore < 0) return nullptr;
                reading = true;
                const double reads = HostReadCount();
                reading = false;
                return reads >= readsBefore + kPolls ? FindActiveWindow(kMainTitle) : nullptr;
            },
            [&](HWND w) {
                const Writes inBand(PortRecorder::writes.size(), {0x278, 0x01});
                switch (c.outcome) {
                case Outcome::kSwitches:
                    EXPECT_EQ(Text(w, IDC_FREQ), c.field);
                    EXPECT_GE(PortRecorder::writes.size(), 2u) << "written on every poll";
                    EXPECT_EQ(PortRecorder::writes, inBand);
                    EXPECT_EQ(Selection(w, IDC_NOW_ANTENNA), 0);
                    break;
                case Outcome::kShowsOnly:
                    EXPECT_EQ(Text(w, IDC_FREQ), c.field);
                    EXPECT_EQ(CAtof(Text(w, IDC_FREQ)), dlg->m_core.m_freqKHz);
                    EXPECT_EQ(PortRecorder::writes, Writes{});
                    break;
                case Outcome::kLeavesField:
                case Outcome::kEndsRun:
                    EXPECT_EQ(Text(w, IDC_FREQ), kEarlier);
                    EXPECT_EQ(PortRecorder::writes, Writes{});
                    break;
                }
                EXPECT_TRUE(dlg->m_host.m_bConnected) << "still attached";
                // Still answering the user: a typed frequency in a band switches at once.
                PortRecorder::writes.clear();
                SetDlgItemTextA(w, IDC_FREQ, "7100");
                EXPECT_EQ(PortRecorder::writes, (Writes{{0x278, 0x01}}));
                Click(w, IDCANCEL);
            });
        EXPECT_EQ(dlg->DoModal(), IDCANCEL);
        Close();
    }
}

}  // namespace
}  // namespace kelvane::testing
