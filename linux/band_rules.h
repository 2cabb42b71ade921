#pragma once
// The one place the Linux edition meets the switching core: a rig frequency in
// hertz becomes the antenna the Windows program would pick for it, through the
// same core entry as a host reading (the frequency rules, the "%.3f" kHz text,
// read back, the band match).

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

    const Station& station() const { return m_station; }

private:
    // The core's window: controls and members are one and the same here, and
    // setting the frequency text runs the match, as the field's notification does.
    class View : public SwitcherView {
    public:
        explicit View(SwitcherCore& core) : m_core(core) {}
        void ReadControls() override {}
        void WriteControls() override {}
        std::string GetFrequencyText() override { return m_text; }
        void ShowCurrentAntenna(int a) override { m_shown = a; }
        int GetCurrentAntennaSelection() override { return m_shown; }
        void SetFrequencyText(const std::string& text) override {
            m_text = text;
            m_core.MatchFrequency();
        }
        SwitcherCore& m_core;
        std::string m_text;
        int m_shown = -1;
    };
    // The antenna the core shows is what the Linux outputs write; its own port
    // write has nowhere to go.
    class NoPort : public PortOutput {
    public:
        void WritePortByte(std::int32_t, std::uint32_t) override {}
    };

    Station m_station;
    NoPort m_port;
    SwitcherCore m_core;
    View m_view;
};

}  // namespace kelvane::svc
