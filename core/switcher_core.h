#pragma once
// Frequency-to-antenna switching. It sees the window only through SwitcherView
// and the port only through PortOutput, so it runs and is tested without either.

#include <string>

#include "core/port_output.h"
#include "core/tables.h"

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
    // Sets the frequency field; its change notification runs MatchFrequency.
    virtual void SetFrequencyText(const std::string& text) = 0;

protected:
    ~SwitcherView() = default;
};

class SwitcherCore : public SwitcherTables {
public:
    SwitcherCore(const BandTable& bands, PortOutput& port) : m_bands(bands), m_port(port) {}

    // The view comes later than the core: the window exists only once it runs.
    void AttachView(SwitcherView* view) { m_view = view; }

    bool m_bAuto = true;
    double m_freqKHz = 0.0;

    void MatchFrequency();
    void SelectBand(int i);
    void SetAntenna(int a);
    void SelectAntennaManually();
    void OnBandAntennaChanged();
    void OnAutoClicked();
    // One reading of the host radio, in hertz; set on every reading, changed
    // or not, so the port is rewritten while the host stays inside a band.
    void OnHostFrequency(double hertz);

    void WritePortByte(int a) { m_port.WritePortByte(m_portAddr, m_antValue[static_cast<std::size_t>(a)]); }

private:
    const BandTable& m_bands;
    PortOutput& m_port;
    SwitcherView* m_view = nullptr;
};

}  // namespace kelvane
