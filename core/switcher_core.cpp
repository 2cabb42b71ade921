#include "core/switcher_core.h"

#include "core/ctext.h"

namespace kelvane {

void SwitcherCore::MatchFrequency() {
    m_freqKHz = CAtof(view_->GetFrequencyText());
    // No early exit: overlapping bands each switch in turn, the highest one last.
    for (int i = 0; i < kBandCount; ++i) {
        if (static_cast<double>(bands_.low[i]) <= m_freqKHz && m_freqKHz <= static_cast<double>(bands_.high[i]))
            SelectBand(i);
    }
}

void SwitcherCore::SelectBand(int i) {
    view_->ReadControls();
    SetAntenna(m_bandAntenna[static_cast<std::size_t>(i)]);
}

void SwitcherCore::SetAntenna(int a) {
    // An index from a damaged file or an empty selector outputs nothing rather
    // than reading past the antenna table.
    if (!IsAntennaIndex(a)) return;
    WritePortByte(a);
    view_->ShowCurrentAntenna(a);
}

void SwitcherCore::SelectAntennaManually() {
    view_->ReadControls();
    m_bAuto = 0;
    view_->WriteControls();
    SetAntenna(view_->GetCurrentAntennaSelection());
}

void SwitcherCore::OnBandAntennaChanged() {
    view_->ReadControls();
    MatchFrequency();
}

void SwitcherCore::OnAutoClicked() { view_->ReadControls(); }

}  // namespace kelvane
