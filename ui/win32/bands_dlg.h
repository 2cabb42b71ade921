#pragma once
// Edits the band table in place: ten names with their lower and upper edges.

#include <array>
#include <cstdint>
#include <string>

#include "core/tables.h"
#include "ui/win32/dialog.h"
#include "ui/win32/resource.h"

namespace kelvane {

class CBandsDlg : public CDialog {
public:
    explicit CBandsDlg(HWND parent) : CDialog(IDD_BANDS, parent) {}

    // Set by the opener; a null one leaves its column out of the exchange.
    std::array<std::string, kBandCount>* m_pNames = nullptr;
    std::array<std::int32_t, kBandCount>* m_pHigh = nullptr;
    std::array<std::int32_t, kBandCount>* m_pLow = nullptr;

    void SetTable(BandTable& bands) {
        m_pNames = &bands.name;
        m_pHigh = &bands.high;
        m_pLow = &bands.low;
    }

protected:
    void DoDataExchange(CDataExchange& dx) override;
};

}  // namespace kelvane
