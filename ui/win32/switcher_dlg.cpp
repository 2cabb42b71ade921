#include "ui/win32/switcher_dlg.h"

#include <array>

#include "ui/win32/about_dlg.h"
#include "ui/win32/config_dlg.h"
#include "ui/win32/resource.h"

namespace kelvane {
namespace {

void FillAntennaNames(HWND combo, const std::array<std::string, kAntennaCount>& names) {
    SendMessageA(combo, CB_RESETCONTENT, 0, 0);
    for (const auto& name : names) SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
}

HICON LoadAppIcon(int size) {
    return static_cast<HICON>(
        LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME), IMAGE_ICON, size, size, LR_SHARED));
}

}  // namespace

CSwitcherDlg::CSwitcherDlg(BandTable& bands, const PortPlatform& platform, HWND parent)
    : CDialog(IDD_SWITCHER_DIALOG, parent),
      m_bands(bands),
      m_port(*platform.driver, platform.outByte),
      m_core(bands, m_port),
      m_host(*this) {
    m_core.AttachView(this);
}

void CSwitcherDlg::LoadIcons() {
    m_hIcon = LoadAppIcon(GetSystemMetrics(SM_CXICON));
    m_hIconSmall = LoadAppIcon(GetSystemMetrics(SM_CXSMICON));
}

void CSwitcherDlg::DoDataExchange(CDataExchange& dx) {
    DDX_Check(dx, IDC_AUTO, m_core.m_bAuto);
    for (int r = 0; r < kBandCount; ++r) DDX_CBIndex(dx, IDC_BAND_ANTENNA1 + r, m_core.m_tables.m_bandAntenna[r]);
}

BOOL CSwitcherDlg::OnInitDialog() {
    CDialog::OnInitDialog();

    char about[128] = {};
    if (LoadStringA(GetModuleHandleA(nullptr), IDS_ABOUTBOX, about, sizeof about) > 0) {
        if (HMENU menu = GetSystemMenu(m_hWnd, FALSE)) {
            AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
            AppendMenuA(menu, MF_STRING, IDM_ABOUTBOX, about);
        }
    }
    SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIconSmall));

    RefreshLists();
    SetTimer(m_hWnd, kHostTimerId, m_hostPeriodMs, nullptr);
    return TRUE;
}

void CSwitcherDlg::RefreshLists() {
    // Unsorted lists: a list index is always the antenna index.
    FillAntennaNames(GetDlgItem(IDC_NOW_ANTENNA), m_core.m_tables.m_antName);
    for (int r = 0; r < kBandCount; ++r) {
        const HWND combo = GetDlgItem(IDC_BAND_ANTENNA1 + r);
        FillAntennaNames(combo, m_core.m_tables.m_antName);
        SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(m_core.m_tables.m_bandAntenna[r]), 0);
        SetDlgItemTextA(m_hWnd, IDC_BAND_NAME1 + r, m_bands.name[r].c_str());
    }
}

std::string CSwitcherDlg::GetFrequencyText() { return GetWindowTextString(GetDlgItem(IDC_FREQ)); }

void CSwitcherDlg::ShowCurrentAntenna(int a) {
    SendMessageA(GetDlgItem(IDC_NOW_ANTENNA), CB_SETCURSEL, static_cast<WPARAM>(a), 0);
}

int CSwitcherDlg::GetCurrentAntennaSelection() {
    return static_cast<int>(SendMessageA(GetDlgItem(IDC_NOW_ANTENNA), CB_GETCURSEL, 0, 0));
}

void CSwitcherDlg::SetFrequencyText(const std::string& text) { SetDlgItemTextA(m_hWnd, IDC_FREQ, text.c_str()); }

void CSwitcherDlg::OnHostLost() {
    KillTimer(m_hWnd, kHostTimerId);
    EndDialog(IDOK);
}

bool CSwitcherDlg::OnCommand(int id, int code) {
    static constexpr std::array<Notify<CSwitcherDlg>, 5> kNotify = {{
        {IDC_FREQ, IDC_FREQ, EN_CHANGE, &CSwitcherDlg::OnFreqChanged},
        {IDC_AUTO, IDC_AUTO, BN_CLICKED, &CSwitcherDlg::OnAutoClicked},
        {IDC_NOW_ANTENNA, IDC_NOW_ANTENNA, CBN_SELCHANGE, &CSwitcherDlg::OnNowAntennaChanged},
        {IDC_BAND_ANTENNA1, IDC_BAND_ANTENNA1 + kBandCount - 1, CBN_SELCHANGE, &CSwitcherDlg::OnBandAntennaChanged},
        {IDC_CONFIG, IDC_CONFIG, BN_CLICKED, &CSwitcherDlg::OnConfig},
    }};
    return Dispatch<CSwitcherDlg>(*this, kNotify, id, code) || CDialog::OnCommand(id, code);
}

bool CSwitcherDlg::OnTimer(UINT_PTR) {
    m_host.OnHostTimer();
    return false;
}

bool CSwitcherDlg::OnSysCommand(WPARAM id) {
    if ((LOWORD(id) & 0xFFF0) != IDM_ABOUTBOX) return false;
    CAboutDlg about(m_hWnd);
    about.DoModal();
    return true;
}

bool CSwitcherDlg::OnPaint() {
    if (!IsIconic(m_hWnd)) return false;
    PAINTSTRUCT ps;
    const HDC dc = BeginPaint(m_hWnd, &ps);
    SendMessageA(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT rc;
    GetClientRect(m_hWnd, &rc);
    const int x = (rc.right - rc.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (rc.bottom - rc.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc, x, y, m_hIcon);
    EndPaint(m_hWnd, &ps);
    return true;
}

void CSwitcherDlg::OnConfig() {
    CConfigDlg dlg(m_bands, m_hWnd);
    dlg.m_portAddr = m_core.m_tables.m_portAddr;
    dlg.m_antValue = m_core.m_tables.m_antValue;
    dlg.m_antName = m_core.m_tables.m_antName;
    if (dlg.DoModal() != IDOK) return;
    // The new address and values reach the port at the next switch.
    m_core.m_tables.m_portAddr = dlg.m_portAddr;
    m_core.m_tables.m_antValue = dlg.m_antValue;
    m_core.m_tables.m_antName = dlg.m_antName;
    RefreshLists();
}

}  // namespace kelvane
