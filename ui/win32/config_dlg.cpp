#include "ui/win32/config_dlg.h"

#include <array>

#include "core/ctext.h"
#include "ui/win32/bands_dlg.h"

namespace kelvane {

void CConfigDlg::DoDataExchange(CDataExchange& dx) {
    // Only the decimal field is read back; the hexadecimal one follows it.
    const HWND dec = dx.PrepareCtrl(IDC_PORT_DEC);
    if (dx.m_bSaveAndValidate) {
        m_portDecText = GetWindowTextString(dec);
        m_portAddr = CAtoi(m_portDecText);
    } else {
        m_portDecText = FormatInt(m_portAddr);
        SetWindowTextA(dec, m_portDecText.c_str());
        m_portHexText = FormatHex03(m_portAddr);
        SetDlgItemTextA(m_hWnd, IDC_PORT_HEX, m_portHexText.c_str());
    }
    for (int r = 0; r < kAntennaCount; ++r) {
        DDX_Text(dx, IDC_ANT_NAME1 + r, m_antName[r]);
        DDX_Text(dx, IDC_ANT_VALUE1 + r, m_antValue[r]);
    }
}

bool CConfigDlg::OnCommand(int id, int code) {
    static constexpr std::array<Notify<CConfigDlg>, 3> kNotify = {{
        {IDC_PORT_DEC, IDC_PORT_DEC, EN_CHANGE, &CConfigDlg::OnPortDecChanged},
        {IDC_PORT_HEX, IDC_PORT_HEX, EN_CHANGE, &CConfigDlg::OnPortHexChanged},
        {IDC_BANDS, IDC_BANDS, BN_CLICKED, &CConfigDlg::OnBands},
    }};
    return Dispatch<CConfigDlg>(*this, kNotify, id, code) || CDialog::OnCommand(id, code);
}

void CConfigDlg::OnPortDecChanged() {
    if (m_bUpdating) return;
    m_bUpdating = true;
    // The whole exchange, so a bad port value anywhere is reported on every
    // keystroke here; the address itself is read first and always taken.
    UpdateData(true);
    m_portHexText = FormatHex03(m_portAddr);
    SetDlgItemTextA(m_hWnd, IDC_PORT_HEX, m_portHexText.c_str());
    m_bUpdating = false;
}

void CConfigDlg::OnPortHexChanged() {
    if (m_bUpdating) return;
    m_bUpdating = true;
    m_portHexText = GetWindowTextString(GetDlgItem(IDC_PORT_HEX));
    CScanHex(m_portHexText, m_portAddr);  // no number: the address stays
    m_portDecText = FormatInt(m_portAddr);
    SetDlgItemTextA(m_hWnd, IDC_PORT_DEC, m_portDecText.c_str());
    m_bUpdating = false;
}

void CConfigDlg::OnBands() {
    CBandsDlg bands(m_hWnd);
    bands.SetTable(m_bands);
    bands.DoModal();
}

}  // namespace kelvane
