// The dialog templates as Windows builds them: every control a user works is
// there, of its kind, with the styles that change what typing does; every
// control is wholly inside its window, clear of every other one, and shows
// its whole text. Run once at 96 DPI and once at 144 (KELVANE_EXPECT_DPI).

#include <cstdlib>
#include <string>
#include <vector>

#include "modal_script.h"
#include "screenshot.h"
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
    DWORD styles;  // all of these bits must be set
};

RECT InClient(HWND w, HWND ctrl) {
    RECT r;
    GetWindowRect(ctrl, &r);
    MapWindowPoints(nullptr, w, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// A label's or a button's text in its own font against its inside, less a
// check box's box or a push button's edges (edit fields scroll, lists drop down).
void ExpectWholeText(HWND ctrl, const std::string& cls) {
    const LONG style = GetWindowLongA(ctrl, GWL_STYLE);
    const bool button = cls == "Button", check = button && (style & BS_TYPEMASK) == BS_AUTOCHECKBOX;
    if (!button && (cls != "Static" || (style & SS_TYPEMASK) == SS_ICON)) return;
    char text[128] = {};
    GetWindowTextA(ctrl, text, sizeof text);
    std::string shown;
    for (const char* p = text; *p; ++p)
        if (*p != '&' || (!button && (style & SS_NOPREFIX))) shown += *p;
    const HDC dc = GetDC(ctrl);
    const HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(ctrl, WM_GETFONT, 0, 0)));
    SIZE need{};
    GetTextExtentPoint32A(dc, shown.c_str(), static_cast<int>(shown.size()), &need);
    SelectObject(dc, old);
    ReleaseDC(ctrl, dc);
    RECT inside;
    GetClientRect(ctrl, &inside);
    const int edge = GetSystemMetrics(SM_CXEDGE);
    const int extraX = check ? GetSystemMetrics(SM_CXMENUCHECK) + edge : button ? 4 * edge : 0;
    EXPECT_LE(need.cx + extraX, inside.right) << "\"" << shown << "\" is cut on the right";
    EXPECT_LE(need.cy + (button && !check ? 2 * edge : 0), inside.bottom) << "\"" << shown << "\" is cut below";
}

void ExpectUsable(HWND w, const std::vector<Control>& controls) {
    for (const auto& c : controls) {
        SCOPED_TRACE(c.id);
        const HWND ctrl = GetDlgItem(w, c.id);
        ASSERT_NE(ctrl, nullptr);
        char cls[32] = {};
        GetClassNameA(ctrl, cls, sizeof cls);
        EXPECT_STREQ(cls, c.cls);
        EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(ctrl, GWL_STYLE)) & c.styles, c.styles);
        EXPECT_TRUE(IsWindowVisible(ctrl));
    }
    // Every control, the labels among them.
    RECT client;
    GetClientRect(w, &client);
    std::vector<RECT> placed;
    for (HWND ctrl = GetWindow(w, GW_CHILD); ctrl; ctrl = GetWindow(ctrl, GW_HWNDNEXT)) {
        char cls[32] = {}, text[64] = {};
        GetClassNameA(ctrl, cls, sizeof cls);
        GetWindowTextA(ctrl, text, sizeof text);
        SCOPED_TRACE(std::string(cls) + " " + std::to_string(GetDlgCtrlID(ctrl)) + " \"" + text + "\"");
        const RECT r = InClient(w, ctrl);
        EXPECT_TRUE(r.left >= 0 && r.top >= 0 && r.right <= client.right && r.bottom <= client.bottom)
            << "cut off by the window's edge";
        for (const auto& other : placed) {
            RECT both;
            EXPECT_FALSE(IntersectRect(&both, &r, &other)) << "overlaps another control";
        }
        placed.push_back(r);
        ExpectWholeText(ctrl, cls);
    }
}

// The screen is at the DPI the run was started for; the dialog as it is
// there is kept for a person to look at.
void AtExpectedDpi(HWND w, const char* name) {
    const HDC dc = GetDC(w);
    const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(w, dc);
    const char* expected = std::getenv("KELVANE_EXPECT_DPI");
    EXPECT_EQ(dpi, expected ? std::atoi(expected) : 96);
    EXPECT_NE(SaveWindowPng(w, std::string(name) + "-" + std::to_string(dpi) + "dpi"), "");
}

TEST(Templates, MainWindowIsAFixedSizeTaskBarWindowWithEveryRowUsable) {
    BandTable bands;
    PortRecorder::Reset();
    CSwitcherDlg dlg(bands, PortRecorder::Platform());
    ModalScript script;
    script.On(kMainTitle, [&](HWND w) {
        const DWORD style = static_cast<DWORD>(GetWindowLongA(w, GWL_STYLE));
        EXPECT_TRUE(style & WS_MINIMIZEBOX);
        EXPECT_TRUE(style & WS_SYSMENU);
        EXPECT_FALSE(style & WS_THICKFRAME) << "not resizable";
        EXPECT_FALSE(style & WS_MAXIMIZEBOX);
        EXPECT_TRUE(GetWindowLongA(w, GWL_EXSTYLE) & WS_EX_APPWINDOW) << "on the task bar";
        const DWORD dropList = CBS_DROPDOWNLIST;
        std::vector<Control> controls = {
            {IDCANCEL, "Button", 0},
            {IDC_CONFIG, "Button", 0},
            {IDC_FREQ, "Edit", ES_AUTOHSCROLL},
            {IDC_AUTO, "Button", BS_AUTOCHECKBOX},
            {IDC_NOW_ANTENNA, "ComboBox", dropList},
        };
        for (int r = 0; r < kBandCount; ++r) {
            controls.push_back({IDC_BAND_NAME1 + r, "Edit", ES_READONLY | ES_RIGHT | ES_AUTOHSCROLL});
            controls.push_back({IDC_BAND_ANTENNA1 + r, "ComboBox", dropList});
        }
        ExpectUsable(w, controls);
        AtExpectedDpi(w, "switcher");
        Click(w, IDCANCEL);
    });
    dlg.DoModal();
}

TEST(Templates, ConfigBandsAndAboutHaveEveryFieldUsable) {
    BandTable bands;
    CConfigDlg config(bands, nullptr);
    ModalScript script;
    script.On("Config", [&](HWND w) {
        std::vector<Control> controls = {
            {IDC_PORT_DEC, "Edit", 0},          {IDC_PORT_HEX, "Edit", 0}, {IDC_BANDS, "Button", 0},
            {IDOK, "Button", BS_DEFPUSHBUTTON}, {IDCANCEL, "Button", 0},
        };
        for (int r = 0; r < kAntennaCount; ++r) {
            controls.push_back({IDC_ANT_NAME1 + r, "Edit", 0});
            controls.push_back({IDC_ANT_VALUE1 + r, "Edit", 0});
            // Any characters may be typed; validation happens on OK.
            EXPECT_FALSE(GetWindowLongA(GetDlgItem(w, IDC_ANT_VALUE1 + r), GWL_STYLE) & ES_NUMBER);
        }
        ExpectUsable(w, controls);
        AtExpectedDpi(w, "config");
        Click(w, IDC_BANDS);
    });
    script.On("Bands", [&](HWND w) {
        std::vector<Control> controls = {
            {IDOK, "Button", BS_DEFPUSHBUTTON},
            {IDCANCEL, "Button", 0},
        };
        for (int r = 0; r < kBandCount; ++r) {
            controls.push_back({IDC_BAND_EDIT_NAME1 + r, "Edit", 0});
            controls.push_back({IDC_BAND_EDIT_LOW1 + r, "Edit", ES_NUMBER});
            controls.push_back({IDC_BAND_EDIT_HIGH1 + r, "Edit", ES_NUMBER});
        }
        ExpectUsable(w, controls);
        AtExpectedDpi(w, "bands");
        Click(w, IDCANCEL);
    });
    script.On("Config", [&](HWND w) { Click(w, IDCANCEL); });
    config.DoModal();

    CAboutDlg about(nullptr);
    script.On("About Kelvane", [&](HWND w) {
        ExpectUsable(w, {{IDOK, "Button", BS_DEFPUSHBUTTON}});
        AtExpectedDpi(w, "about");
        Click(w, IDOK);
    });
    EXPECT_EQ(about.DoModal(), IDOK);
}

}  // namespace
}  // namespace kelvane::testing
