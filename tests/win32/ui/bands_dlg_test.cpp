// The bands dialog on a band table: its exchange order and, above all, that
// an OK refused by validation writes nothing.

#include <string>

#include "modal_script.h"
#include "screenshot.h"
#include "ui/win32/bands_dlg.h"
#include "ui/win32/resource.h"
#include "ui_test.h"

namespace kelvane::testing {
namespace {

constexpr char kIntegerMessage[] = "Please enter an integer.";

class BandsDialog : public ::testing::Test {
protected:
    BandsDialog() : dlg(nullptr) { dlg.SetTable(bands); }
    BandTable bands;
    CBandsDlg dlg;
    ModalScript script;

    // A validation message, read and dismissed.
    void ExpectMessage(std::string& text) {
        script.On(kAppTitle, [&text](HWND box) {
            text = MessageBoxText(box);
            PostMessageA(box, WM_COMMAND, IDOK, 0);
        });
    }
};

TEST_F(BandsDialog, RowsReadNameLowerEdgeUpperEdge) {
    script.On("Bands", [&](HWND w) {
        EXPECT_EQ(Text(w, IDC_BAND_EDIT_NAME1), "160m");
        EXPECT_EQ(Text(w, IDC_BAND_EDIT_LOW1), "1750");
        EXPECT_EQ(Text(w, IDC_BAND_EDIT_HIGH1), "2000");
        EXPECT_EQ(Text(w, IDC_BAND_EDIT_NAME1 + 9), "6m");
        EXPECT_EQ(Text(w, IDC_BAND_EDIT_LOW1 + 9), "50000");
        EXPECT_EQ(Text(w, IDC_BAND_EDIT_HIGH1 + 9), "54000");
        // Row order on screen: name, lower, upper.
        RECT low, high;
        GetWindowRect(Item(w, IDC_BAND_EDIT_LOW1), &low);
        GetWindowRect(Item(w, IDC_BAND_EDIT_HIGH1), &high);
        EXPECT_LT(low.left, high.left);
        EXPECT_NE(SaveWindowPng(w, "bands"), "");
        Click(w, IDCANCEL);
    });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
}

TEST_F(BandsDialog, OkWritesEveryColumnAndAcceptsAnInvertedRange) {
    script.On("Bands", [&](HWND w) {
        SetDlgItemTextA(w, IDC_BAND_EDIT_NAME1 + 3, "30 m CW");
        SetDlgItemTextA(w, IDC_BAND_EDIT_LOW1 + 3, "10150");
        SetDlgItemTextA(w, IDC_BAND_EDIT_HIGH1 + 3, "10100");
        SetDlgItemTextA(w, IDC_BAND_EDIT_NAME1 + 9, "");
        SetDlgItemTextA(w, IDC_BAND_EDIT_LOW1 + 9, "-3");  // set, not typed: digits-only fields take it
        Click(w, IDOK);
    });
    ASSERT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(bands.name[3], "30 m CW");
    EXPECT_EQ(bands.low[3], 10150);
    EXPECT_EQ(bands.high[3], 10100);
    EXPECT_EQ(bands.name[9], "");
    EXPECT_EQ(bands.low[9], -3);
}

TEST_F(BandsDialog, RangeFieldsTakeOnlyDigitsFromTheKeyboard) {
    script.On("Bands", [&](HWND w) {
        Type(w, IDC_BAND_EDIT_HIGH1 + 2, "7a3-0");
        EXPECT_EQ(Text(w, IDC_BAND_EDIT_HIGH1 + 2), "730");
        Click(w, IDCANCEL);
    });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
}

TEST_F(BandsDialog, CancelChangesNothing) {
    const BandTable before = bands;
    script.On("Bands", [&](HWND w) {
        SetDlgItemTextA(w, IDC_BAND_EDIT_NAME1, "top band");
        SetDlgItemTextA(w, IDC_BAND_EDIT_HIGH1 + 4, "14070");
        Click(w, IDCANCEL);
    });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(bands.name, before.name);
    EXPECT_EQ(bands.high, before.high);
    EXPECT_EQ(bands.low, before.low);
}

// An empty range field refuses the OK. The names and the upper edges come
// before it in the exchange; none of them may reach the table, so that the
// Cancel that follows truly leaves the table as it was.
TEST_F(BandsDialog, RefusedOkLeavesTheTableUntouched) {
    const BandTable before = bands;
    std::string message;
    script.On("Bands", [&](HWND w) {
        SetDlgItemTextA(w, IDC_BAND_EDIT_NAME1 + 1, "80 m");
        SetDlgItemTextA(w, IDC_BAND_EDIT_HIGH1 + 5, "18200");
        Clear(w, IDC_BAND_EDIT_LOW1 + 6);
        Click(w, IDOK);
    });
    ExpectMessage(message);
    script.OnSettled("Bands", [&](HWND w) {
        EXPECT_TRUE(HasFocus(w, IDC_BAND_EDIT_LOW1 + 6)) << "focus back on the empty field";
        EXPECT_EQ(bands.name, before.name);
        EXPECT_EQ(bands.high, before.high);
        Click(w, IDCANCEL);
    });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(message, kIntegerMessage);
    EXPECT_EQ(bands.name, before.name);
    EXPECT_EQ(bands.high, before.high);
    EXPECT_EQ(bands.low, before.low);
}

TEST_F(BandsDialog, RefusedOkCanBeMendedAndConfirmed) {
    std::string message;
    script.On("Bands", [&](HWND w) {
        SetDlgItemTextA(w, IDC_BAND_EDIT_HIGH1, "2100 kHz");
        Click(w, IDOK);
    });
    ExpectMessage(message);
    script.OnSettled("Bands", [&](HWND w) {
        EXPECT_TRUE(HasFocus(w, IDC_BAND_EDIT_HIGH1));
        Type(w, IDC_BAND_EDIT_HIGH1, "2100");
        Click(w, IDOK);
    });
    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(message, kIntegerMessage);
    EXPECT_EQ(bands.high[0], 2100);
}

TEST_F(BandsDialog, NullReferenceLeavesItsColumnOut) {
    dlg.m_pNames = nullptr;
    script.On("Bands", [&](HWND w) {
        EXPECT_EQ(Text(w, IDC_BAND_EDIT_NAME1), "");
        EXPECT_EQ(Text(w, IDC_BAND_EDIT_LOW1), "1750");
        SetDlgItemTextA(w, IDC_BAND_EDIT_LOW1, "1810");
        Click(w, IDOK);
    });
    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(bands.name[0], "160m");
    EXPECT_EQ(bands.low[0], 1810);
}

}  // namespace
}  // namespace kelvane::testing
