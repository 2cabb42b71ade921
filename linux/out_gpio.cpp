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
        : chipName_(std::move(chip)), lines_(std::move(lines)), invert_(invert), api_(api) {}

    bool Open(std::string& error) override {
        chip_ = api_.ChipOpenLookup(chipName_.c_str());
        if (chip_ == nullptr) {
            error = "GPIO chip " + chipName_ + ": " + std::strerror(errno);
            return false;
        }
        bulk_ = gpiod_line_bulk{};
        if (api_.ChipGetLines(chip_, lines_.data(), static_cast<unsigned>(lines_.size()), &bulk_) != 0) {
            error = "lines of GPIO chip " + chipName_ + ": " + std::strerror(errno);
            api_.ChipClose(chip_);
            chip_ = nullptr;
            return false;
        }
        requested_ = false;
        return true;
    }
    bool Write(const OutputEvent& e, std::string& error) override {
        const std::uint8_t wire = outputs::WireByte(e.byte, invert_);
        int values[8] = {};
        for (std::size_t i = 0; i < lines_.size(); ++i) values[i] = (wire >> i) & 1;
        const int rc = requested_ ? api_.LineSetValueBulk(&bulk_, values)
                                  : api_.LineRequestBulkOutput(&bulk_, "kelvane", values);
        if (rc != 0) {
            error = std::string(requested_ ? "setting" : "requesting") + " lines of GPIO chip " + chipName_ + ": " +
                    std::strerror(errno);
            return false;
        }
        requested_ = true;
        return true;
    }
    void Close() override {
        if (chip_ == nullptr) return;
        if (requested_) api_.LineReleaseBulk(&bulk_);
        api_.ChipClose(chip_);
        chip_ = nullptr;
        requested_ = false;
    }

private:
    std::string chipName_;
    std::vector<unsigned> lines_;
    bool invert_;
    GpiodApi& api_;
    gpiod_chip* chip_ = nullptr;
    gpiod_line_bulk bulk_{};
    bool requested_ = false;
};

}  // namespace

std::unique_ptr<OutputDevice> MakeGpio(const std::string& chip, const std::vector<unsigned>& lines, bool invert,
                                       GpiodApi& api) {
    return std::make_unique<Gpio>(chip, lines, invert, api);
}

}  // namespace kelvane::svc
