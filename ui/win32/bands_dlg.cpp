#include "ui/win32/bands_dlg.h"

namespace kelvane {

void CBandsDlg::DoDataExchange(CDataExchange& dx) {
    // The fields go through copies, which reach the table only once every
    // field has passed: an OK refused for one bad field must not leave the
    // fields before it written, where a following Cancel could not undo them.
    auto names = m_pNames ? *m_pNames : std::array<std::string, kBandCount>{};
    auto high = m_pHigh ? *m_pHigh : std::array<std::int32_t, kBandCount>{};
    auto low = m_pLow ? *m_pLow : std::array<std::int32_t, kBandCount>{};

    if (m_pNames)
        for (int r = 0; r < kBandCount; ++r) DDX_Text(dx, IDC_BAND_EDIT_NAME1 + r, names[r]);
    if (m_pHigh)
        for (int r = 0; r < kBandCount; ++r) DDX_Text(dx, IDC_BAND_EDIT_HIGH1 + r, high[r]);
    if (m_pLow)
        for (int r = 0; r < kBandCount; ++r) DDX_Text(dx, IDC_BAND_EDIT_LOW1 + r, low[r]);

    if (!dx.m_bSaveAndValidate) return;
    if (m_pNames) *m_pNames = names;
    if (m_pHigh) *m_pHigh = high;
    if (m_pLow) *m_pLow = low;
}

}  // namespace kelvane
