// gpio:CHIP:L0,...: one line per bit, D0 first, through libgpiod. The lines
// are requested at the first write, with that write's values, so that opening
// never drives them to a state nobody asked for.
#include <cerrno>
#include <cstring>

#include "linux/devices.h"
#include "outputs/wire_byte.h"

namespace kelvane::svc {
namespace {

class Gpio final : public OutputDevice {
public:
    Gpio(std::string chip, std::vector<unsigned> lines, bool invert, GpiodApi& api)
        : OutputDevice(invert), m_chipName(std::move(chip)), m_lines(std::move(lines)), m_api(api) {}

    bool Open(std::string& error) override {
        m_chip = m_api.ChipOpenLookup(m_chipName.c_str());
        if (m_chip == nullptr) {
            error = "GPIO chip " + m_chipName + ": " + std::strerror(errno);
            return false;
        }
        m_bulk = gpiod_line_bulk{};
        if (m_api.ChipGetLines(m_chip, m_lines.data(), static_cast<unsigned>(m_lines.size()), &m_bulk) != 0) {
            error = "lines of GPIO chip " + m_chipName + ": " + std::strerror(errno);
            m_api.ChipClose(m_chip);
            m_chip = nullptr;
            return false;
        }
        m_requested = false;
        return true;
    }
    bool Write(const OutputEvent& e, std::string& error) override {
        const std::uint8_t wire = outputs::WireByte(e.byte, m_invert);
        int values[8] = {};
        for (std::size_t i = 0; i < m_lines.size(); ++i) values[i] = (wire >> i) & 1;
        const int rc = m_requested ? m_api.LineSetValueBulk(&m_bulk, values)
                                   : m_api.LineRequestBulkOutput(&m_bulk, "kelvane", values);
        if (rc != 0) {
            error = std::string(m_requested ? "setting" : "requesting") + " lines of GPIO chip " + m_chipName + ": " +
                    std::strerror(errno);
            return false;
        }
        m_requested = true;
        return true;
    }
    void Close() override {
        if (m_chip == nullptr) return;
        if (m_requested) m_api.LineReleaseBulk(&m_bulk);
        m_api.ChipClose(m_chip);
        m_chip = nullptr;
        m_requested = false;
    }

private:
    std::string m_chipName;
    std::vector<unsigned> m_lines;
    GpiodApi& m_api;
    gpiod_chip* m_chip = nullptr;
    gpiod_line_bulk m_bulk{};
    bool m_requested = false;
};

}  // namespace

std::unique_ptr<OutputDevice> MakeGpio(const std::string& chip, const std::vector<unsigned>& lines, bool invert,
                                       GpiodApi& api) {
    return std::make_unique<Gpio>(chip, lines, invert, api);
}

}  // namespace kelvane::svc
