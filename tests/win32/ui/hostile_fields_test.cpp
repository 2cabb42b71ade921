// Hostile text in every field of the real dialogs: numbers far beyond 32 bits,
// thousands of digits, words C libraries read as numbers, hex floats.

#include <array>
#include <cstdint>
#include <fstream>
#include <string>

#include "modal_script.h"
#include "settings/settings_file.h"
#include "ui/win32/bands_dlg.h"
#include "ui/win32/config_dlg.h"
#include "ui/win32/resource.h"
#include "ui_test.h"

namespace kelvane::testing {
namespace {

constexpr char kIntegerMessage[] = "Please enter an integer.";
constexpr char kPositiveMessage[] = "Please enter a positive integer.";

std::string Repeat(char c, std::size_t n) { return std::string(n, c); }
std::string Join(std::string a, const std::string& b) { return a.append(b); }

class FrequencyField : public ScratchDirTest {};

// OK on a dialog whose fields `fill` has set; when `refused`, the validation
// message is read into `message`, the focus must be on field `id`, and the
// dialog is then cancelled.
void ScriptOk(ModalScript& run, const char* caption, ModalScript::Action fill, bool refused, int id,
              std::string& message) {
    run.On(caption, [fill](HWND w) {
        fill(w);
        Click(w, IDOK);
    });
    if (!refused) return;
    run.On(kAppTitle, [&message](HWND box) {
        message = MessageBoxText(box);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
    });
    run.OnSettled(caption, [id](HWND w) {
        EXPECT_TRUE(HasFocus(w, id)) << "focus on the refused field";
        Click(w, IDCANCEL);
    });
}

// Band r goes to antenna r, whose byte is 1 << r (antenna 9's is 0). Band 9
// is 10..20 kHz, where 16 lies: the value of "0x1p4" read as a hex float.
TEST_F(FrequencyField, SwitchesOnlyWhenTheTextReadsAsAFrequencyInABand) {
    SwitcherTables tables;
    BandTable layout;
    for (int r = 0; r < kBandCount; ++r) tables.m_bandAntenna[r] = r;
    layout.low[9] = 10;
    layout.high[9] = 20;
    std::ofstream(kSettingsFileName, std::ios::binary) << SerializeSettings(tables, layout);
    BandTable bands;
    CSwitcherDlg dlg(bands, PortRecorder::Platform());
    CSwitcherApp(bands, PortRecorder::Platform()).StartUp(dlg);
    ModalScript script;

    const struct {
        std::string text;
        int band;  // -1: no band, nothing written
    } cases[] = {
        {Join("1", Repeat('0', 3000)), -1},    // overflows to infinity
        {Join(Repeat('0', 3000), "7100"), 2},  // leading zeros are no magnitude
        {Join("7100.", Repeat('0', 3000)), 2},
        {Join("7200.", Repeat('9', 3000)), -1},            // rounds up to 7201
        {Join(Join("7200.", Repeat('0', 3000)), "1"), 2},  // rounds down to the edge itself
        {Join(Join("0.", Repeat('0', 3000)), "16"), -1},   // underflows to 0
        {Join("1.6e1", Repeat(' ', 2000)), 9},
        {"nan", -1},
        {"inf", -1},
        {"-inf", -1},
        {"infinity", -1},
        {"1e400", -1},
        {"-1e400", -1},
        {"1e99999999999999999999", -1},  // an exponent beyond any integer
        {"1e-400", -1},
        {"-0", -1},
        {"0x1p4", -1},  // "0", then text: a hex float is no number here
        {"0x10", -1},
        {Repeat(' ', 3000), -1},
        {" \t 7150", 2},
        {"7100e", 2},  // an exponent without digits is not part of the number
        {"7.1e+3", 2},
        {"7,100", -1},  // a comma ends the number at 7
        {"+14000", 4},
    };
    script.On(kMainTitle, [&](HWND w) {
        for (const auto& c : cases) {
            SCOPED_TRACE(c.text.size() > 40 ? c.text.substr(0, 40) + "... (" + std::to_string(c.text.size()) + ")"
                                            : c.text);
            SetDlgItemTextA(w, IDC_FREQ, "3550");  // band 1: a known antenna before each case
            PortRecorder::writes.clear();
            SetDlgItemTextA(w, IDC_FREQ, c.text.c_str());
            EXPECT_EQ(Text(w, IDC_FREQ), c.text) << "the field took the whole text";
            if (c.band < 0) {
                EXPECT_EQ(PortRecorder::writes, Writes{});
                EXPECT_EQ(Selection(w, IDC_NOW_ANTENNA), 1);
            } else {
                const auto byte = static_cast<std::uint8_t>((1u << c.band) & 0xFFu);
                EXPECT_EQ(PortRecorder::writes, (Writes{{0x278, byte}}));
                EXPECT_EQ(Selection(w, IDC_NOW_ANTENNA), c.band);
            }
        }
        // Still answering: the keyboard reaches the field and the match.
        PortRecorder::writes.clear();
        Type(w, IDC_FREQ, "14100");
        EXPECT_EQ(PortRecorder::writes.back(), (PortRecorder::Write{0x278, 0x10}));
        Click(w, IDCANCEL);
    });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
}

// Typed (or pasted) into one port field: the other field follows each change,
// and OK takes the address the decimal field then holds.
TEST(ConfigPortFields, OutOfRangeAndMalformedAddressesStayInsideThirtyTwoBits) {
    const struct {
        const char* what;
        int field;
        std::string typed;
        const char* other;  // what the other field shows at the end
        std::int32_t addr;
    } cases[] = {
        {"one past the largest int", IDC_PORT_DEC, "2147483648", "7fffffff", 2147483647},
        {"one past the smallest int", IDC_PORT_DEC, "-2147483649", "80000000", INT32_MIN},
        {"eleven digits", IDC_PORT_DEC, "99999999999", "7fffffff", 2147483647},
        {"thousands of digits", IDC_PORT_DEC, Repeat('9', 2000), "7fffffff", 2147483647},
        {"thousands of leading zeros", IDC_PORT_DEC, Join(Repeat('0', 2000), "956"), "3bc", 956},
        {"nine hex digits", IDC_PORT_HEX, "1FFFFFFFF", "-1", -1},
        {"thousands of hex digits", IDC_PORT_HEX, Repeat('f', 2000), "-1", -1},
        {"thousands of hex zeros", IDC_PORT_HEX, Join(Repeat('0', 2000), "3bc"), "956", 956},
        {"a bare prefix", IDC_PORT_HEX, "0x", "0", 0},
        {"a negative hex number", IDC_PORT_HEX, "-0x10", "-16", -16},
        {"a sign alone", IDC_PORT_HEX, "-", "632", 632},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        BandTable table;
        CConfigDlg config(table, nullptr);
        config.m_portAddr = 0x278;
        ModalScript run;
        run.On("Config", [&](HWND w) {
            // Long texts are pasted: typed, every keystroke would exchange all fields.
            if (c.typed.size() > 100)
                SetDlgItemTextA(w, c.field, c.typed.c_str());
            else
                Type(w, c.field, c.typed);
            EXPECT_EQ(Text(w, c.field), c.typed);
            EXPECT_EQ(Text(w, c.field == IDC_PORT_DEC ? IDC_PORT_HEX : IDC_PORT_DEC), c.other);
            Click(w, IDOK);
        });
        EXPECT_EQ(config.DoModal(), IDOK);
        EXPECT_EQ(config.m_portAddr, c.addr);
    }
}

struct NumberCase {
    std::string text;
    bool accepted;
    std::int64_t value;  // when accepted
};

// Set in one row's value field, cycling through the rows. A refusal names
// the field, takes the focus to it and leaves the value it was given.
TEST(ConfigValueFields, RefuseWhatIsNoUnsigned32BitNumber) {
    const NumberCase cases[] = {
        {"2147483648", true, 2147483648},  // no sign bit to overflow: a valid value
        {Join(Repeat('0', 2000), "7"), true, 7},
        {"-2147483649", false, 0},
        {"99999999999", false, 0},
        {Repeat('9', 2000), false, 0},
        {"-0", false, 0},
        {"0x10", false, 0},
        {"1e3", false, 0},
        {"nan", false, 0},
        {Repeat(' ', 50), false, 0},
    };
    int row = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 40));
        const int r = row++ % kAntennaCount;
        const int id = IDC_ANT_VALUE1 + r;
        BandTable table;
        CConfigDlg config(table, nullptr);
        config.m_antValue.fill(200);
        std::string message;
        ModalScript run;
        ScriptOk(
            run, "Config", [&](HWND w) { SetDlgItemTextA(w, id, c.text.c_str()); }, !c.accepted, id, message);
        ASSERT_EQ(config.DoModal(), c.accepted ? IDOK : IDCANCEL);
        if (c.accepted) {
            EXPECT_EQ(config.m_antValue[r], static_cast<std::uint32_t>(c.value));
        } else {
            EXPECT_EQ(message, kPositiveMessage);
            EXPECT_EQ(config.m_antValue[r], 200u) << "nothing written for the refused field";
        }
    }
}

// Both edge columns, each text in a row of its own. A refused OK leaves the
// band table exactly as it was, the fields exchanged before it included.
TEST(BandEdgeFields, RefuseWhatIsNoSigned32BitNumberAndWriteNothing) {
    const NumberCase texts[] = {
        {"2147483647", true, 2147483647},
        {"-2147483648", true, INT32_MIN},
        {Join("-", Join(Repeat('0', 2000), "5")), true, -5},
        {"2147483648", false, 0},
        {"-2147483649", false, 0},
        {"99999999999", false, 0},
        {Repeat('1', 2000), false, 0},
        {"--5", false, 0},
        {"1e3", false, 0},
    };
    const struct {
        const char* name;
        int firstId;
        std::array<std::int32_t, kBandCount> BandTable::*edges;
    } columns[] = {
        {"lower", IDC_BAND_EDIT_LOW1, &BandTable::low},
        {"upper", IDC_BAND_EDIT_HIGH1, &BandTable::high},
    };
    int row = 0;
    for (const auto& col : columns) {
        for (const auto& c : texts) {
            SCOPED_TRACE(std::string(col.name) + " edge: " + c.text.substr(0, 40));
            const int r = row++ % kBandCount;
            const int id = col.firstId + r;
            BandTable table;
            const BandTable before = table;
            CBandsDlg bandsDlg(nullptr);
            bandsDlg.SetTable(table);
            std::string message;
            ModalScript run;
            ScriptOk(
                run, "Bands",
                [&](HWND w) {
                    SetDlgItemTextA(w, IDC_BAND_EDIT_NAME1 + r, "renamed");
                    SetDlgItemTextA(w, id, c.text.c_str());
                },
                !c.accepted, id, message);
            ASSERT_EQ(bandsDlg.DoModal(), c.accepted ? IDOK : IDCANCEL);
            if (c.accepted) {
                EXPECT_EQ((table.*col.edges)[r], c.value);
                EXPECT_EQ(table.name[r], "renamed");
            } else {
                EXPECT_EQ(message, kIntegerMessage);
                EXPECT_EQ(table.name, before.name);
                EXPECT_EQ(table.low, before.low);
                EXPECT_EQ(table.high, before.high);
            }
        }
    }
}

// Names have no length limit and are 8-bit text of the ANSI code page.
TEST(NameFields, LongAndAccentedNamesAreTakenWhole) {
    const std::string longName = Join(Repeat('A', 5000), " end");
    const std::string accented = "\xC4ste \xE9t\xE9 \xFC";  // Äste été ü in the Western code page

    BandTable table;
    CConfigDlg config(table, nullptr);
    ModalScript run;
    run.On("Config", [&](HWND w) {
        SetDlgItemTextA(w, IDC_ANT_NAME1, longName.c_str());
        SetDlgItemTextA(w, IDC_ANT_NAME1 + 9, accented.c_str());
        Click(w, IDC_BANDS);
    });
    run.On("Bands", [&](HWND w) {
        SetDlgItemTextA(w, IDC_BAND_EDIT_NAME1 + 9, longName.c_str());
        SetDlgItemTextA(w, IDC_BAND_EDIT_NAME1, accented.c_str());
        Click(w, IDOK);
    });
    run.On("Config", [&](HWND w) { Click(w, IDOK); });
    ASSERT_EQ(config.DoModal(), IDOK);
    EXPECT_EQ(config.m_antName[0], longName);
    EXPECT_EQ(config.m_antName[9], accented);
    EXPECT_EQ(table.name[9], longName);
    EXPECT_EQ(table.name[0], accented);
}

}  // namespace
}  // namespace kelvane::testing
