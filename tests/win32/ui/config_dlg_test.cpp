// The configuration dialog: the two port fields mirroring each other, the
// validation of the value fields, and the Bands button.

#include <string>

#include "modal_script.h"
#include "screenshot.h"
#include "ui/win32/config_dlg.h"
#include "ui/win32/resource.h"
#include "ui_test.h"

namespace kelvane::testing {
namespace {

constexpr char kPositiveMessage[] = "Please enter a positive integer.";

class ConfigDialog : public ::testing::Test {
protected:
    ConfigDialog() : dlg(bands, nullptr) {
        const AntennaTable defaults;
        dlg.m_portAddr = 0x278;
        dlg.m_antName = defaults.m_antName;
        dlg.m_antValue = defaults.m_antValue;
    }
    BandTable bands;
    CConfigDlg dlg;
    ModalScript script;
};

struct MirrorCase {
    const char* what;
    std::int32_t start;
    int field;  // 0: only open the dialog
    const char* typed;
    const char* dec;
    const char* hex;
    std::int32_t addr;  // what OK takes back
};

TEST_F(ConfigDialog, PortFieldsMirrorEachOtherAsTheUserTypes) {
    const MirrorCase cases[] = {
        {"default port", 0x278, 0, "", "632", "278", 632},
        {"short value padded to three digits", 128, 0, "", "128", "080", 128},
        {"four digits stay four", 0x1234, 0, "", "4660", "1234", 0x1234},
        {"hex typed", 0x278, IDC_PORT_HEX, "3BC", "956", "3BC", 956},
        {"hex with 0x prefix", 0x278, IDC_PORT_HEX, "0x3bc", "956", "0x3bc", 956},
        {"decimal typed", 0x278, IDC_PORT_DEC, "956", "956", "3bc", 956},
        {"decimal cleared", 0x278, IDC_PORT_DEC, "", "", "000", 0},
        {"negative decimal", 0x278, IDC_PORT_DEC, "-5", "-5", "fffffffb", -5},
        {"decimal with trailing letters", 0x278, IDC_PORT_DEC, "77abc", "77abc", "04d", 77},
        {"no hex digits keep the address", 0x278, IDC_PORT_HEX, "xyz", "632", "xyz", 632},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        BandTable table;
        CConfigDlg config(table, nullptr);
        config.m_portAddr = c.start;
        ModalScript run;
        run.On("Config", [&](HWND w) {
            if (c.field) {
                if (*c.typed)
                    Type(w, c.field, c.typed);
                else
                    Clear(w, c.field);
            }
            EXPECT_EQ(Text(w, IDC_PORT_DEC), c.dec);
            EXPECT_EQ(Text(w, IDC_PORT_HEX), c.hex);
            Click(w, IDOK);
        });
        EXPECT_EQ(config.DoModal(), IDOK);
        EXPECT_EQ(config.m_portAddr, c.addr);
    }
}

TEST_F(ConfigDialog, OpensWithTheCopiesItWasGiven) {
    dlg.m_antName[9] = "Vertical";
    dlg.m_antValue[9] = 200;
    script.On("Config", [&](HWND w) {
        EXPECT_EQ(Text(w, IDC_ANT_NAME1), "Ant #1");
        EXPECT_EQ(Text(w, IDC_ANT_VALUE1 + 7), "128");
        EXPECT_EQ(Text(w, IDC_ANT_VALUE1 + 8), "0");
        EXPECT_EQ(Text(w, IDC_ANT_NAME1 + 9), "Vertical");
        EXPECT_EQ(Text(w, IDC_ANT_VALUE1 + 9), "200");
        EXPECT_NE(SaveWindowPng(w, "config"), "");
        Click(w, IDCANCEL);
    });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
}

struct ValueCase {
    const char* text;
    bool accepted;
    std::uint32_t value;
};

TEST_F(ConfigDialog, ValueFieldsTakeOnlyUnsignedNumbers) {
    const ValueCase cases[] = {
        {"255", true, 255},       {" 42 ", true, 42}, {"4294967295", true, 4294967295u},
        {"", false, 0},           {"-1", false, 0},   {"12x", false, 0},
        {"4294967296", false, 0}, {"abc", false, 0},  {"+7", true, 7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("\"") + c.text + "\"");
        BandTable table;
        CConfigDlg config(table, nullptr);
        std::string message;
        ModalScript run;
        run.On("Config", [&](HWND w) {
            SetDlgItemTextA(w, IDC_ANT_VALUE1 + 4, c.text);
            Click(w, IDOK);
        });
        if (!c.accepted) {
            run.On(kAppTitle, [&](HWND box) {
                message = MessageBoxText(box);
                PostMessageA(box, WM_COMMAND, IDOK, 0);
            });
            run.OnSettled("Config", [&](HWND w) {
                EXPECT_TRUE(HasFocus(w, IDC_ANT_VALUE1 + 4)) << "focus back on the failing field";
                Click(w, IDCANCEL);
            });
        }
        EXPECT_EQ(config.DoModal(), c.accepted ? IDOK : IDCANCEL);
        if (c.accepted) {
            EXPECT_EQ(config.m_antValue[4], c.value);
        } else {
            EXPECT_EQ(message, kPositiveMessage);
        }
    }
}

TEST_F(ConfigDialog, KeystrokeInDecimalFieldValidatesEveryFieldYetMirrorsTheAddress) {
    std::string message;
    script.On("Config", [&](HWND w) {
        SetDlgItemTextA(w, IDC_ANT_VALUE1 + 2, "four");
        // The message box comes up inside the keystroke; the script meets it there.
        Type(w, IDC_PORT_DEC, "7");
        EXPECT_EQ(message, kPositiveMessage);
        EXPECT_EQ(Text(w, IDC_PORT_HEX), "007");
        EXPECT_TRUE(HasFocus(w, IDC_ANT_VALUE1 + 2));
        Click(w, IDCANCEL);
    });
    script.On(kAppTitle, [&](HWND box) {
        message = MessageBoxText(box);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
    });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
}

TEST_F(ConfigDialog, OkTakesNamesValuesAndAddress) {
    script.On("Config", [&](HWND w) {
        Type(w, IDC_PORT_HEX, "3bc");
        SetDlgItemTextA(w, IDC_ANT_NAME1 + 1, "Dipole 80");
        SetDlgItemTextA(w, IDC_ANT_VALUE1 + 1, "511");
        Click(w, IDOK);
    });
    ASSERT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(dlg.m_portAddr, 956);
    EXPECT_EQ(dlg.m_antName[1], "Dipole 80");
    EXPECT_EQ(dlg.m_antValue[1], 511u);
    EXPECT_EQ(dlg.m_antName[0], "Ant #1");
}

TEST_F(ConfigDialog, BandsButtonEditsTheTableInPlaceWhateverConfigDoesAfter) {
    script.On("Config", [&](HWND w) { Click(w, IDC_BANDS); });
    script.On("Bands", [&](HWND w) {
        EXPECT_EQ(Text(w, IDC_BAND_EDIT_NAME1), "160m");
        SetDlgItemTextA(w, IDC_BAND_EDIT_NAME1 + 1, "80 m");
        SetDlgItemTextA(w, IDC_BAND_EDIT_LOW1 + 1, "3600");
        Click(w, IDOK);
    });
    script.On("Config", [&](HWND w) { Click(w, IDCANCEL); });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(bands.name[1], "80 m");
    EXPECT_EQ(bands.low[1], 3600);
    EXPECT_EQ(bands.high[1], 4000);
}

}  // namespace
}  // namespace kelvane::testing
