#pragma once
// Edits copies of the port address and the antenna table; the port address is
// shown in decimal and in hexadecimal, each rewritten as the other is typed.

#include <array>
#include <cstdint>
#include <string>

#include "core/tables.h"
#include "ui/win32/dialog.h"
#include "ui/win32/resource.h"

namespace kelvane {

class CConfigDlg : public CDialog {
public:
    // The Bands button edits `bands` in place, whatever this dialog's outcome.
    CConfigDlg(BandTable& bands, HWND parent) : CDialog(IDD_CONFIG, parent), m_bands(bands) {}

    std::string m_portHexText;
    std::string m_portDecText;
    std::int32_t m_portAddr = 0;
    std::array<std::string, kAntennaCount> m_antName;
    std::array<std::uint32_t, kAntennaCount> m_antValue{};

protected:
    void DoDataExchange(CDataExchange& dx) override;
    bool OnCommand(int id, int code) override;

private:
    void OnPortDecChanged();
    void OnPortHexChanged();
    void OnBands();

    BandTable& m_bands;
    // Each field's handler rewrites the other field, which notifies in turn.
    bool m_bUpdating = false;
};

}  // namespace kelvane
