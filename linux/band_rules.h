#pragma once
// The one place the Linux edition meets the switching core: a rig frequency in
// hertz becomes the antenna the Windows program would pick for it, by the same
// steps (kHz, its "%.3f" text, read back, SwitcherCore's band match).

#include <optional>

#include "core/switcher_core.h"
#include "core/tables.h"

namespace kelvane::svc {

// What the settings file holds.
struct Station {
    SwitcherTables tables;
    BandTable bands;
};

class BandRules {
public:
    explicit BandRules(const Station& station);
    BandRules(const BandRules&) = delete;
    BandRules& operator=(const BandRules&) = delete;

    // The antenna index (0-9) for `hertz`; nothing for 0 Hz, a value that is not
    // finite, a frequency outside every band, or a band with a damaged antenna index.
    // Where bands overlap, the highest matching band wins, as on Windows.
    std::optional<int> AntennaFor(double hertz);

    const Station& station() const { return station_; }

private:
    // The core's window: controls and members are one and the same here.
    class View : public SwitcherView {
    public:
        void ReadControls() override {}
        void WriteControls() override {}
        std::string GetFrequencyText() override { return text; }
        void ShowCurrentAntenna(int a) override { shown = a; }
        int GetCurrentAntennaSelection() override { return shown; }
        std::string text;
        int shown = -1;
    };

    Station station_;
    // Bound to nothing: the core's own port write goes nowhere; the antenna it
    // shows is what the Linux outputs write.
    PortDriverBinding binding_;
    PortWriter writer_;
    SwitcherCore core_;
    View view_;
};

}  // namespace kelvane::svc
