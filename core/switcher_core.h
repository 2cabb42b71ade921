#pragma once
// The main window's switching: the band rule (band_match.h) applied to the
// frequency field, with the port written for each band it switches. It sees
// the window only through SwitcherView and the port only through PortOutput.

#include <string>

#include "core/port_output.h"
#include "core/tables.h"

namespace kelvane {

// Implemented by the main window. ReadControls/WriteControls move the Auto box
// and the band selectors to and from the core's m_bAuto and band assignment.
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

class SwitcherCore {
public:
    SwitcherCore(const BandTable& bands, PortOutput& port) : m_bands(bands), m_port(port) {}

    // The view comes later than the core: the window exists only once it runs.
    void AttachView(SwitcherView* view) { m_view = view; }

    SwitcherTables m_tables;
    bool m_bAuto = true;
    double m_freqKHz = 0.0;

    // The field's text changed: the controls are read, then each matching band
    // writes its antenna to the port, in order.
    void MatchFrequency();
    void SetAntenna(int a);
    void SelectAntennaManually();
    void OnBandAntennaChanged();
    void OnAutoClicked();
    // One reading of the host radio, in hertz; set on every reading, changed
    // or not, so the port is rewritten while the host stays inside a band.
    void OnHostFrequency(double hertz);

private:
    const BandTable& m_bands;
    PortOutput& m_port;
    SwitcherView* m_view = nullptr;
};

}  // namespace kelvane
