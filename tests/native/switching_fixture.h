#pragma once
// A core wired to a scripted view and a recording port, as the main window wires it.

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/switcher_core.h"
#include "port/port_write.h"

namespace kelvane::testing {

using PortWrite = std::pair<std::uint16_t, std::uint8_t>;

inline std::vector<PortWrite>& RecordedWrites() {
    static std::vector<PortWrite> writes;
    return writes;
}
inline void RecordOut(std::uint16_t port, std::uint8_t value) { RecordedWrites().emplace_back(port, value); }

// The port-driver library as the port write sees it: writes land only while bound.
struct FakeDriver : DriverByteOutput {
    void DriverOutPB(std::uint16_t port, std::uint8_t value) const override {
        if (bound) writes.emplace_back(port, value);
    }
    bool bound = false;
    mutable std::vector<PortWrite> writes;
};

// Controls as the user sees them; Read/WriteControls move them like data exchange.
class FakeView : public SwitcherView {
public:
    explicit FakeView(SwitcherCore& core) : m_core(core) { bandSelector = core.m_tables.m_bandAntenna; }
    void ReadControls() override {
        m_core.m_bAuto = autoBox;
        m_core.m_tables.m_bandAntenna = bandSelector;
    }
    void WriteControls() override {
        autoBox = m_core.m_bAuto;
        bandSelector = m_core.m_tables.m_bandAntenna;
    }
    std::string GetFrequencyText() override { return freqText; }
    void ShowCurrentAntenna(int a) override { nowSelection = a; }
    int GetCurrentAntennaSelection() override { return nowSelection; }
    // As the field's change notification does, on every set.
    void SetFrequencyText(const std::string& text) override {
        ++fieldSets;
        freqText = text;
        m_core.MatchFrequency();
    }

    bool autoBox = true;
    std::array<std::int32_t, kBandCount> bandSelector{};
    std::string freqText;
    int nowSelection = -1;
    int fieldSets = 0;

private:
    SwitcherCore& m_core;
};

struct Station {
    BandTable bands;
    FakeDriver driver;
    PortWriter port{driver, &RecordOut};
    SwitcherCore core{bands, port};
    FakeView view{core};

    Station() {
        RecordedWrites().clear();
        core.AttachView(&view);
    }
    // The field's change notification: every keystroke runs the match.
    void Type(const std::string& text) {
        view.freqText = text;
        core.MatchFrequency();
    }
};

}  // namespace kelvane::testing
