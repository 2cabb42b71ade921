// The main window driven by messages, as the user and the host link drive it,
// with a recording port and the settings file in a scratch directory.

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "kelvane_version.h"
#include "modal_script.h"
#include "screenshot.h"
#include "settings/settings_file.h"
#include "ui/win32/resource.h"
#include "ui_test.h"

namespace kelvane::testing {
namespace {

class MainWindow : public SwitcherWindowTest {
protected:
    // Band r sends antenna r, so every band has its own byte (1 << r).
    void AssignBandsToTheirOwnAntennas() {
        SwitcherTables tables;
        for (int r = 0; r < kBandCount; ++r) tables.m_bandAntenna[r] = r;
        std::ofstream(kSettingsFileName, std::ios::binary) << SerializeSettings(tables, BandTable{});
    }
    std::string SavedFile() const {
        std::ifstream in(kSettingsFileName, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    ModalScript script;
};

bool AutoChecked(HWND w) { return SendMessageA(Item(w, IDC_AUTO), BM_GETCHECK, 0, 0) == BST_CHECKED; }

TEST_F(MainWindow, OpensWithTheTablesAutoOnAndCloseFocused) {
    bands.name[2] = "40 m";
    Open();
    script.On(kMainTitle, [&](HWND w) {
        EXPECT_TRUE(AutoChecked(w));
        EXPECT_TRUE(HasFocus(w, IDCANCEL));
        EXPECT_EQ(Selection(w, IDC_NOW_ANTENNA), -1) << "nothing shown as current before the first switch";
        const std::vector<std::string> names = {"Ant #1", "Ant #2", "Ant #3", "Ant #4", "Ant #5",
                                                "Ant #6", "Ant #7", "Ant #8", "Ant #9", "Ant #10"};
        EXPECT_EQ(ListItems(w, IDC_NOW_ANTENNA), names);
        for (int r = 0; r < kBandCount; ++r) {
            EXPECT_EQ(ListItems(w, IDC_BAND_ANTENNA1 + r), names);
            EXPECT_EQ(Selection(w, IDC_BAND_ANTENNA1 + r), 0);
            EXPECT_EQ(Text(w, IDC_BAND_NAME1 + r), bands.name[r]);
        }
        EXPECT_EQ(Text(w, IDC_FREQ), "");
        EXPECT_NE(SaveWindowPng(w, "switcher"), "");
        Click(w, IDCANCEL);
    });
    EXPECT_EQ(dlg->DoModal(), IDCANCEL);
    EXPECT_TRUE(PortRecorder::writes.empty()) << "nothing goes to the port at start or exit";
}

TEST_F(MainWindow, SystemMenuEndsWithTheAboutItem) {
    Open();
    script.On(kMainTitle, [&](HWND w) {
        const HMENU menu = GetSystemMenu(w, FALSE);
        const int count = GetMenuItemCount(menu);
        ASSERT_GE(count, 2);
        EXPECT_EQ(GetMenuItemID(menu, count - 1), static_cast<UINT>(IDM_ABOUTBOX));
        char text[64] = {};
        GetMenuStringA(menu, count - 1, text, sizeof text, MF_BYPOSITION);
        EXPECT_STREQ(text, "&About Kelvane...");
        EXPECT_EQ(GetMenuState(menu, count - 2, MF_BYPOSITION) & MF_SEPARATOR, static_cast<UINT>(MF_SEPARATOR));
        PostMessageA(w, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    });
    script.On("About Kelvane", [&](HWND about) {
        EXPECT_NE(FindWindowExA(about, nullptr, "Static", "Kelvane Version " KELVANE_VERSION_TEXT), nullptr);
        EXPECT_NE(SaveWindowPng(about, "about"), "");
        Click(about, IDOK);
    });
    script.On(kMainTitle, [&](HWND w) { Click(w, IDCANCEL); });
    EXPECT_EQ(dlg->DoModal(), IDCANCEL);
}

TEST_F(MainWindow, TypedFrequencySwitchesAtEachKeystroke) {
    AssignBandsToTheirOwnAntennas();
    Open();
    script.On(kMainTitle, [&](HWND w) {
        struct Step {
            const char* text;
            Writes writes;  // in order, since the previous step
            int now;
        };
        const Step steps[] = {
            {"7200.000", {{0x278, 0x04}}, 2},  // upper edge included
            {"7200.001", {}, 2},               // just above: nothing changes
            {"", {}, 2},
            {"abc", {}, 2},
            {"14000 kHz", {{0x278, 0x10}}, 4},  // trailing text ignored; lower edge included
            {"14000", {{0x278, 0x10}}, 4},      // the same frequency again writes again
        };
        for (const auto& s : steps) {
            SCOPED_TRACE(s.text);
            PortRecorder::writes.clear();
            SetDlgItemTextA(w, IDC_FREQ, s.text);
            EXPECT_EQ(PortRecorder::writes, s.writes);
            EXPECT_EQ(Selection(w, IDC_NOW_ANTENNA), s.now);
        }
        // Digit by digit, 18100 passes 1810, which lies in the 160 m band.
        PortRecorder::writes.clear();
        Type(w, IDC_FREQ, "18100");
        EXPECT_EQ(PortRecorder::writes, (Writes{{0x278, 0x01}, {0x278, 0x20}}));
        EXPECT_EQ(Selection(w, IDC_NOW_ANTENNA), 5);
        Click(w, IDCANCEL);
    });
    EXPECT_EQ(dlg->DoModal(), IDCANCEL);
}

TEST_F(MainWindow, EnterInAFieldDoesNothing) {
    Open();
    script.On(kMainTitle, [&](HWND w) {
        SetFocus(Item(w, IDC_FREQ));
        Type(w, IDC_FREQ, "3600");
        PressKey(Item(w, IDC_FREQ), VK_RETURN);
    });
    // Posted keys are handled before the next tick; the window must still be there.
    script.On(kMainTitle, [&](HWND w) {
        EXPECT_EQ(PortRecorder::writes, (Writes{{0x278, 0x01}})) << "only 3600 itself lies in a band";
        Click(w, IDCANCEL);
    });
    EXPECT_EQ(dlg->DoModal(), IDCANCEL);
}

TEST_F(MainWindow, EnterRightAfterOpeningClicksCloseAndSaves) {
    Open();
    script.On(kMainTitle, [&](HWND w) {
        ASSERT_TRUE(HasFocus(w, IDCANCEL));
        PressKey(GetFocus(), VK_RETURN);
    });
    EXPECT_EQ(dlg->DoModal(), IDCANCEL);
    EXPECT_FALSE(SettingsFileExists()) << "saved when the window object goes, not before";
    Close();
    EXPECT_EQ(SavedFile().size(), 275u) << "the defaults";
}

TEST_F(MainWindow, EscapeClosesAndSavesTheAssignment) {
    Open();
    script.On(kMainTitle, [&](HWND w) { PressKey(Item(w, IDC_BAND_ANTENNA1 + 4), VK_DOWN); });
    script.On(kMainTitle, [&](HWND w) { PressKey(Item(w, IDC_FREQ), VK_ESCAPE); });
    EXPECT_EQ(dlg->DoModal(), IDCANCEL);
    Close();
    SwitcherTables saved;
    BandTable savedBands;
    ParseSettings(SavedFile(), saved, savedBands);
    EXPECT_EQ(saved.m_bandAntenna[4], 1);
}

TEST_F(MainWindow, ManualChoiceClearsAutoButTypedFrequenciesStillSwitch) {
    AssignBandsToTheirOwnAntennas();
    Open();
    script.On(kMainTitle, [&](HWND w) {
        SendMessageA(Item(w, IDC_NOW_ANTENNA), CB_SETCURSEL, 2, 0);
        PressKey(Item(w, IDC_NOW_ANTENNA), VK_DOWN);
    });
    script.On(kMainTitle, [&](HWND w) {
        EXPECT_EQ(Selection(w, IDC_NOW_ANTENNA), 3);
        EXPECT_EQ(PortRecorder::writes, (Writes{{0x278, 0x08}}));
        EXPECT_FALSE(AutoChecked(w));
        EXPECT_FALSE(dlg->m_core.m_bAuto);
        dlg->OnHostFrequency(14074000);
        EXPECT_EQ(PortRecorder::writes.size(), 1u) << "host polls no longer reach the field";
        SetDlgItemTextA(w, IDC_FREQ, "21200");
        EXPECT_EQ(PortRecorder::writes.back(), (PortRecorder::Write{0x278, 0x40}));
        Click(w, IDC_AUTO);
    });
    script.On(kMainTitle, [&](HWND w) {
        EXPECT_TRUE(AutoChecked(w));
        EXPECT_EQ(PortRecorder::writes.size(), 2u) << "checking Auto outputs nothing";
        dlg->OnHostFrequency(14074000);
        EXPECT_EQ(Text(w, IDC_FREQ), "14074.000") << "host polls reach the field again";
        Click(w, IDCANCEL);
    });
    EXPECT_EQ(dlg->DoModal(), IDCANCEL);
}

TEST_F(MainWindow, ChangedBandSelectorRematchesAtOnce) {
    AssignBandsToTheirOwnAntennas();
    Open();
    script.On(kMainTitle, [&](HWND w) {
        SetDlgItemTextA(w, IDC_FREQ, "14100");
        PortRecorder::writes.clear();
        PressKey(Item(w, IDC_BAND_ANTENNA1 + 4), VK_DOWN);  // 20 m: antenna 5 to 6
        PressKey(Item(w, IDC_BAND_ANTENNA1 + 1), VK_DOWN);  // 80 m: not where we are
    });
    script.On(kMainTitle, [&](HWND w) {
        EXPECT_EQ(Selection(w, IDC_BAND_ANTENNA1 + 4), 5);
        EXPECT_EQ(PortRecorder::writes, (Writes{{0x278, 0x20}, {0x278, 0x20}}));
        EXPECT_EQ(Selection(w, IDC_NOW_ANTENNA), 5);
        Click(w, IDCANCEL);
    });
    EXPECT_EQ(dlg->DoModal(), IDCANCEL);
    Close();
    SwitcherTables saved;
    BandTable savedBands;
    ParseSettings(SavedFile(), saved, savedBands);
    EXPECT_EQ(saved.m_bandAntenna[4], 5);
    EXPECT_EQ(saved.m_bandAntenna[1], 2);
}

TEST_F(MainWindow, ConfirmedConfigTakesEffectAtTheNextSwitchAndBlanksCurrent) {
    Open();
    script.On(kMainTitle, [&](HWND w) {
        SetDlgItemTextA(w, IDC_FREQ, "7100");
        EXPECT_EQ(Selection(w, IDC_NOW_ANTENNA), 0);
        Click(w, IDC_CONFIG);
    });
    script.On("Config", [&](HWND w) {
        EXPECT_EQ(Text(w, IDC_PORT_DEC), "632");
        Type(w, IDC_PORT_HEX, "3bc");
        SetDlgItemTextA(w, IDC_ANT_NAME1, "Beam");
        SetDlgItemTextA(w, IDC_ANT_VALUE1, "511");
        Click(w, IDOK);
    });
    script.On(kMainTitle, [&](HWND w) {
        EXPECT_EQ(PortRecorder::writes, (Writes{{0x278, 0x01}})) << "nothing written by the dialog";
        EXPECT_EQ(Selection(w, IDC_NOW_ANTENNA), -1);
        EXPECT_EQ(ListItems(w, IDC_NOW_ANTENNA).front(), "Beam");
        EXPECT_EQ(ListItems(w, IDC_BAND_ANTENNA1 + 9).front(), "Beam");
        EXPECT_EQ(Selection(w, IDC_BAND_ANTENNA1 + 2), 0);
        SetDlgItemTextA(w, IDC_FREQ, "7150");
        EXPECT_EQ(PortRecorder::writes.back(), (PortRecorder::Write{0x3bc, 0xFF}));
        Click(w, IDCANCEL);
    });
    EXPECT_EQ(dlg->DoModal(), IDCANCEL);
}

TEST_F(MainWindow, CancelledConfigLeavesTheTablesAlone) {
    Open();
    script.On(kMainTitle, [&](HWND w) {
        SetDlgItemTextA(w, IDC_FREQ, "3700");
        Click(w, IDC_CONFIG);
    });
    script.On("Config", [&](HWND w) {
        Type(w, IDC_PORT_DEC, "888");
        SetDlgItemTextA(w, IDC_ANT_NAME1, "Loop");
        SetDlgItemTextA(w, IDC_ANT_VALUE1, "9");
        Click(w, IDCANCEL);
    });
    script.On(kMainTitle, [&](HWND w) {
        EXPECT_EQ(Selection(w, IDC_NOW_ANTENNA), 0) << "no refresh after Cancel";
        EXPECT_EQ(ListItems(w, IDC_NOW_ANTENNA).front(), "Ant #1");
        SetDlgItemTextA(w, IDC_FREQ, "3750");
        EXPECT_EQ(PortRecorder::writes.back(), (PortRecorder::Write{0x278, 0x01}));
        Click(w, IDCANCEL);
    });
    EXPECT_EQ(dlg->DoModal(), IDCANCEL);
    EXPECT_EQ(dlg->m_core.m_tables.m_portAddr, 0x278);
    EXPECT_EQ(dlg->m_core.m_tables.m_antName[0], "Ant #1");
    EXPECT_EQ(dlg->m_core.m_tables.m_antValue[0], 1u);
}

TEST_F(MainWindow, BandsConfirmedUnderACancelledConfigApplyButShowOldNames) {
    AssignBandsToTheirOwnAntennas();
    Open();
    script.On(kMainTitle, [&](HWND w) { Click(w, IDC_CONFIG); });
    script.On("Config", [&](HWND w) { Click(w, IDC_BANDS); });
    script.On("Bands", [&](HWND w) {
        SetDlgItemTextA(w, IDC_BAND_EDIT_NAME1 + 2, "40 m");
        SetDlgItemTextA(w, IDC_BAND_EDIT_LOW1 + 2, "7100");
        Click(w, IDOK);
    });
    script.On("Config", [&](HWND w) { Click(w, IDCANCEL); });
    script.On(kMainTitle, [&](HWND w) {
        EXPECT_EQ(Text(w, IDC_BAND_NAME1 + 2), "40m") << "rows refresh only after a confirmed Config";
        SetDlgItemTextA(w, IDC_FREQ, "7050");
        EXPECT_TRUE(PortRecorder::writes.empty()) << "7050 is below the new lower edge";
        SetDlgItemTextA(w, IDC_FREQ, "7150");
        EXPECT_EQ(PortRecorder::writes, (Writes{{0x278, 0x04}}));
        Click(w, IDCANCEL);
    });
    EXPECT_EQ(dlg->DoModal(), IDCANCEL);
    EXPECT_EQ(bands.name[2], "40 m");
    Close();
    SwitcherTables saved;
    BandTable savedBands;
    ParseSettings(SavedFile(), saved, savedBands);
    EXPECT_EQ(savedBands.low[2], 7100);
    EXPECT_EQ(savedBands.name[2], "40 m");
}

TEST_F(MainWindow, IconsAndDragIconAreTheProgramIcon) {
    Open();
    script.On(kMainTitle, [&](HWND w) {
        const auto big = reinterpret_cast<HICON>(SendMessageA(w, WM_GETICON, ICON_BIG, 0));
        const auto small = reinterpret_cast<HICON>(SendMessageA(w, WM_GETICON, ICON_SMALL, 0));
        ASSERT_NE(big, nullptr);
        ASSERT_NE(small, nullptr);
        ShowWindow(w, SW_MINIMIZE);
        EXPECT_TRUE(IsIconic(w));
        EXPECT_EQ(reinterpret_cast<HICON>(SendMessageA(w, WM_QUERYDRAGICON, 0, 0)), big);
        for (auto [icon, size] : {std::pair{big, 32}, std::pair{small, 16}}) {
            ICONINFO info{};
            ASSERT_TRUE(GetIconInfo(icon, &info));
            BITMAP bm{};
            GetObjectA(info.hbmColor, sizeof bm, &bm);
            EXPECT_EQ(bm.bmWidth, size);
            EXPECT_EQ(bm.bmHeight, size);
            DeleteObject(info.hbmColor);
            DeleteObject(info.hbmMask);
        }
        ShowWindow(w, SW_RESTORE);
        Click(w, IDCANCEL);
    });
    EXPECT_EQ(dlg->DoModal(), IDCANCEL);
}

TEST_F(MainWindow, HostReadingsDriveTheFieldAndALostHostEndsTheRun) {
    AssignBandsToTheirOwnAntennas();
    Open();
    script.On(kMainTitle, [&](HWND w) {
        dlg->OnHostFrequency(28500000);
        EXPECT_EQ(Text(w, IDC_FREQ), "28500.000");
        EXPECT_EQ(PortRecorder::writes, (Writes{{0x278, 0x00}})) << "antenna 9 defaults to 0";
        dlg->OnHostLost();
    });
    EXPECT_EQ(dlg->DoModal(), IDOK);
    Close();
    EXPECT_TRUE(SettingsFileExists());
}

struct DriverCase {
    const char* what;
    bool isNT;
    bool bindResult;
    std::vector<std::string> events;  // through the end of the window object
};

TEST_F(MainWindow, PortDriverIsBoundOnNtAndUnboundBeforeTheSave) {
    const DriverCase cases[] = {
        {"NT, driver ready", true, true, {"bind", "unbind"}},
        {"NT, driver refused: told once, writes still passed on", true, false, {"bind", "failure message", "unbind"}},
        {"9x: the out instruction, no driver", false, true, {"out"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PortRecorder::Reset();
        PortRecorder::isNT = c.isNT;
        PortRecorder::bindResult = c.bindResult;
        std::remove(kSettingsFileName);
        Open();
        ModalScript run;
        run.On(kMainTitle, [&](HWND w) {
            SetDlgItemTextA(w, IDC_FREQ, "1800");
            Click(w, IDCANCEL);
        });
        EXPECT_EQ(dlg->DoModal(), IDCANCEL);
        Close();
        EXPECT_EQ(PortRecorder::events, c.events);
        EXPECT_EQ(PortRecorder::writes, (Writes{{0x278, 0x01}}));
        EXPECT_TRUE(SettingsFileExists());
        EXPECT_FALSE(PortRecorder::DriverBound());
    }
}

}  // namespace
}  // namespace kelvane::testing
