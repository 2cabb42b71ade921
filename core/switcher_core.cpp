#include "core/switcher_core.h"

#include "core/band_match.h"
#include "core/ctext.h"
#include "core/frequency.h"

namespace kelvane {

void SwitcherCore::MatchFrequency() {
    m_freqKHz = CAtof(m_view->GetFrequencyText());
    const std::vector<int> bands = MatchingBands(m_bands, m_freqKHz);
    if (bands.empty()) return;
    // The selectors may have changed on screen since they were last read.
    m_view->ReadControls();
    // Overlapping bands each switch in turn, the last one last.
    for (const int band : bands) SetAntenna(m_tables.m_bandAntenna[static_cast<std::size_t>(band)]);
}

void SwitcherCore::SetAntenna(int a) {
    // An index from a damaged file or an empty selector outputs nothing rather
    // than reading past the antenna table.
    if (!IsAntennaIndex(a)) return;
    m_port.WritePortByte(m_tables.m_portAddr, m_tables.m_antValue[static_cast<std::size_t>(a)]);
    m_view->ShowCurrentAntenna(a);
}

void SwitcherCore::SelectAntennaManually() {
    m_view->ReadControls();
    m_bAuto = false;
    m_view->WriteControls();
    SetAntenna(m_view->GetCurrentAntennaSelection());
}

void SwitcherCore::OnBandAntennaChanged() {
    m_view->ReadControls();
    MatchFrequency();
}

void SwitcherCore::OnAutoClicked() { m_view->ReadControls(); }

void SwitcherCore::OnHostFrequency(double hertz) {
    if (const auto text = HostFrequencyText(hertz, m_bAuto)) m_view->SetFrequencyText(*text);
}

}  // namespace kelvane
