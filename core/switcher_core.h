#pragma once
// Frequency-to-antenna switching. It sees the window only through SwitcherView
// and the port only through PortWriter, so it runs and is tested without either.

#include <string>

#include "core/tables.h"
#include "port/port_write.h"

namespace kelvane {

// Implemented by the main window. ReadControls/WriteControls move the Auto box
// and the band selectors to and from the core's m_bAuto and m_bandAntenna.
class SwitcherView {
public:
    virtual void ReadControls() = 0;
    virtual void WriteControls() = 0;
    virtual std::string GetFrequencyText() = 0;
    virtual void ShowCurrentAntenna(int a) = 0;    // raises no selection event
    virtual int GetCurrentAntennaSelection() = 0;  // -1 when nothing is selected

protected:
    ~SwitcherView() = default;
};

class SwitcherCore : public SwitcherTables {
public:
    SwitcherCore(const BandTable& bands, PortWriter& port) : bands_(bands), port_(port) {}

    // The view comes later than the core: the window exists only once it runs.
    void AttachView(SwitcherView* view) { view_ = view; }

    int m_bAuto = 1;
    double m_freqKHz = 0.0;

    void MatchFrequency();
    void SelectBand(int i);
    void SetAntenna(int a);
    void SelectAntennaManually();
    void OnBandAntennaChanged();
    void OnAutoClicked();

    void WritePortByte(int a) { port_.WritePortByte(m_portAddr, m_antValue[static_cast<std::size_t>(a)]); }

private:
    const BandTable& bands_;
    PortWriter& port_;
    SwitcherView* view_ = nullptr;
};

}  // namespace kelvane
