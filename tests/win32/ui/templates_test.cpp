// The dialog templates as Windows builds them: caption, size in dialog
// units, and the controls whose kind and place the other tests rely on.

#include <string>
#include <vector>

#include "modal_script.h"
#include "ui/win32/about_dlg.h"
#include "ui/win32/bands_dlg.h"
#include "ui/win32/config_dlg.h"
#include "ui/win32/resource.h"
#include "ui_test.h"

namespace kelvane::testing {
namespace {

struct Control {
    int id;
    const char* cls;
    RECT dlu;      // x, y, width, height; height 0: not checked (drop-down lists)
    DWORD styles;  // all of these bits must be set
};

void ExpectLayout(HWND w, SIZE size, const std::vector<Control>& controls) {
    RECT client;
    GetClientRect(w, &client);
    RECT want = {0, 0, size.cx, size.cy};
    MapDialogRect(w, &want);
    EXPECT_EQ(client.right, want.right);
    EXPECT_EQ(client.bottom, want.bottom);
    for (const auto& c : controls) {
        SCOPED_TRACE(c.id);
        const HWND ctrl = GetDlgItem(w, c.id);
        ASSERT_NE(ctrl, nullptr);
        char cls[32] = {};
        GetClassNameA(ctrl, cls, sizeof cls);
        EXPECT_STREQ(cls, c.cls);
        EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(ctrl, GWL_STYLE)) & c.styles, c.styles);
        // Position and size are converted apart, as the dialog manager does.
        RECT at = c.dlu;
        MapDialogRect(w, &at);
        RECT is;
        GetWindowRect(ctrl, &is);
        MapWindowPoints(nullptr, w, reinterpret_cast<POINT*>(&is), 2);
        EXPECT_EQ(is.left, at.left);
        EXPECT_EQ(is.top, at.top);
        EXPECT_EQ(is.right - is.left, at.right);
        if (c.dlu.bottom) {
            EXPECT_EQ(is.bottom - is.top, at.bottom);
        }
    }
}

RECT Dlu(int x, int y, int cx, int cy) { return {x, y, cx, cy}; }

TEST(Templates, MainWindow) {
    BandTable bands;
    PortRecorder::Reset();
    // Built and checked without a run of its own: only the template matters here.
    CSwitcherDlg dlg(bands, PortRecorder::Platform());
    ModalScript script;
    script.On(kMainTitle, [&](HWND w) {
        const DWORD style = static_cast<DWORD>(GetWindowLongA(w, GWL_STYLE));
        EXPECT_TRUE(style & WS_MINIMIZEBOX);
        EXPECT_TRUE(style & WS_SYSMENU);
        EXPECT_FALSE(style & WS_THICKFRAME) << "not resizable";
        EXPECT_FALSE(style & WS_MAXIMIZEBOX);
        EXPECT_TRUE(GetWindowLongA(w, GWL_EXSTYLE) & WS_EX_APPWINDOW) << "on the task bar";
        // (The list's scroll bar style goes to the list itself, not the combo box.)
        const DWORD dropList = CBS_DROPDOWNLIST;
        std::vector<Control> controls = {
            {IDCANCEL, "Button", Dlu(194, 9, 50, 14), 0},
            {IDC_CONFIG, "Button", Dlu(194, 28, 50, 14), 0},
            {IDC_FREQ, "Edit", Dlu(194, 102, 45, 14), ES_AUTOHSCROLL},
            {IDC_AUTO, "Button", Dlu(208, 124, 31, 10), BS_AUTOCHECKBOX},
            {IDC_NOW_ANTENNA, "ComboBox", Dlu(54, 191, 125, 0), dropList},
        };
        for (int r = 0; r < kBandCount; ++r) {
            controls.push_back(
                {IDC_BAND_NAME1 + r, "Edit", Dlu(11, 10 + 17 * r, 40, 12), ES_READONLY | ES_RIGHT | ES_AUTOHSCROLL});
            controls.push_back({IDC_BAND_ANTENNA1 + r, "ComboBox", Dlu(55, 10 + 17 * r, 125, 0), dropList});
        }
        ExpectLayout(w, {249, 210}, controls);
        Click(w, IDCANCEL);
    });
    dlg.DoModal();
}

TEST(Templates, ConfigBandsAndAbout) {
    BandTable bands;
    CConfigDlg config(bands, nullptr);
    ModalScript script;
    script.On("Config", [&](HWND w) {
        std::vector<Control> controls = {
            {IDC_PORT_DEC, "Edit", Dlu(197, 20, 31, 14), 0}, {IDC_PORT_HEX, "Edit", Dlu(197, 40, 31, 14), 0},
            {IDC_BANDS, "Button", Dlu(183, 65, 50, 14), 0},  {IDOK, "Button", Dlu(183, 150, 50, 14), BS_DEFPUSHBUTTON},
            {IDCANCEL, "Button", Dlu(183, 167, 50, 14), 0},
        };
        for (int r = 0; r < kAntennaCount; ++r) {
            controls.push_back({IDC_ANT_NAME1 + r, "Edit", Dlu(23, 19 + 17 * r, 87, 14), 0});
            controls.push_back({IDC_ANT_VALUE1 + r, "Edit", Dlu(119, 19 + 17 * r, 40, 14), 0});
            // Any characters may be typed; validation happens on OK.
            EXPECT_FALSE(GetWindowLongA(GetDlgItem(w, IDC_ANT_VALUE1 + r), GWL_STYLE) & ES_NUMBER);
        }
        ExpectLayout(w, {243, 191}, controls);
        Click(w, IDC_BANDS);
    });
    script.On("Bands", [&](HWND w) {
        std::vector<Control> controls = {
            {IDOK, "Button", Dlu(147, 16, 50, 14), BS_DEFPUSHBUTTON},
            {IDCANCEL, "Button", Dlu(147, 33, 50, 14), 0},
        };
        for (int r = 0; r < kBandCount; ++r) {
            controls.push_back({IDC_BAND_EDIT_NAME1 + r, "Edit", Dlu(r == 0 ? 9 : 8, 16 + 17 * r, 40, 14), 0});
            controls.push_back({IDC_BAND_EDIT_LOW1 + r, "Edit", Dlu(54, 16 + 17 * r, 40, 14), ES_NUMBER});
            controls.push_back({IDC_BAND_EDIT_HIGH1 + r, "Edit", Dlu(96, 16 + 17 * r, 40, 14), ES_NUMBER});
        }
        ExpectLayout(w, {207, 188}, controls);
        Click(w, IDCANCEL);
    });
    script.On("Config", [&](HWND w) { Click(w, IDCANCEL); });
    config.DoModal();

    CAboutDlg about(nullptr);
    script.On("About Kelvane", [&](HWND w) {
        ExpectLayout(w, {235, 55}, {{IDOK, "Button", Dlu(178, 7, 50, 14), BS_DEFPUSHBUTTON}});
        Click(w, IDOK);
    });
    EXPECT_EQ(about.DoModal(), IDOK);
}

}  // namespace
}  // namespace kelvane::testing
