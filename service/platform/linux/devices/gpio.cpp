// gpio:CHIP:L0,...: one line per bit, D0 first, through libgpiod. The lines
// are requested at the first write, with that write's values, so that opening
// never drives them to a state nobody asked for.
#include <cerrno>
#include <cstring>

#include "service/platform/linux/devices/gpio.h"
#include "outputs/wire_byte.h"

namespace kelvane::svc {
namespace {

class RealGpiodApi final : public GpiodApi {
public:
    gpiod_chip* ChipOpenLookup(const char* descr) override { return gpiod_chip_open_lookup(descr); }
    int ChipGetLines(gpiod_chip* chip, unsigned* offsets, unsigned count, gpiod_line_bulk* bulk) override {
        return gpiod_chip_get_lines(chip, offsets, count, bulk);
    }
    int LineRequestBulkOutput(gpiod_line_bulk* bulk, const char* consumer, const int* values) override {
        return gpiod_line_request_bulk_output(bulk, consumer, values);
    }
    int LineSetValueBulk(gpiod_line_bulk* bulk, const int* values) override {
        return gpiod_line_set_value_bulk(bulk, values);
    }
    void LineReleaseBulk(gpiod_line_bulk* bulk) override { gpiod_line_release_bulk(bulk); }
    void ChipClose(gpiod_chip* chip) override { gpiod_chip_close(chip); }
};

class Gpio final : public outputs::OutputDevice {
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

GpiodApi& RealGpiod() {
    static RealGpiodApi api;
    return api;
}

std::unique_ptr<outputs::OutputDevice> MakeGpio(const std::string& chip, const std::vector<unsigned>& lines,
                                                bool invert, GpiodApi& api) {
    return std::make_unique<Gpio>(chip, lines, invert, api);
}

}  // namespace kelvane::svc
