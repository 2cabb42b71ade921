#include "core/switcher_core.h"

#include "core/ctext.h"
#include "core/frequency.h"

namespace kelvane {

void SwitcherCore::MatchFrequency() {
    m_freqKHz = CAtof(m_view->GetFrequencyText());
    // No early exit: overlapping bands each switch in turn, the highest one last.
    for (int i = 0; i < kBandCount; ++i) {
        if (static_cast<double>(m_bands.low[i]) <= m_freqKHz && m_freqKHz <= static_cast<double>(m_bands.high[i]))
            SelectBand(i);
    }
}

void SwitcherCore::SelectBand(int i) {
    m_view->ReadControls();
    SetAntenna(m_bandAntenna[static_cast<std::size_t>(i)]);
}

void SwitcherCore::SetAntenna(int a) {
    // An index from a damaged file or an empty selector outputs nothing rather
    // than reading past the antenna table.
    if (!IsAntennaIndex(a)) return;
    WritePortByte(a);
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
