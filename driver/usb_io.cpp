// The port calls as the USB backends take them: the port address means nothing
// to a relay board, and only the low byte of a write is switched.

#include "driver/usb_io.h"

namespace korvport {
namespace {

class UsbIo final : public PortIo {
public:
    UsbIo(std::unique_ptr<UsbBoard> board, const std::string& statusPath)
        : link_(std::move(board), [statusPath](const std::string& text) { AppendStatus(statusPath, text); }) {}

    void Write(const char*, std::uint16_t, std::uint32_t value, int) override {
        link_.Write(static_cast<std::uint8_t>(value & 0xFF), GetTickCount());
    }
    // Nothing to read back from a relay board: an empty port's all ones.
    std::uint32_t Read(const char*, std::uint16_t, int bytes) override {
        return bytes == 4 ? 0xFFFFFFFFu : (1u << (8 * bytes)) - 1;
    }
    void Beep(std::uint32_t, std::uint32_t) override {}
    void Note(const char*, const std::string&) override {}

private:
    UsbLink link_;
};

}  // namespace

std::unique_ptr<PortIo> OpenUsb(const Config& config, const std::string& programDir, const std::string& statusPath) {
    std::string board = config.serial.empty() ? "first board found" : "serial " + config.serial;
    if (config.backend == Backend::Ftdi && config.serial.empty() && config.index >= 0)
        board = "device " + std::to_string(config.index);
    AppendStatus(statusPath, std::string("configured: backend=") + BackendName(config.backend) + ", " + board +
                                 ", invert " + (config.invert ? "on" : "off"));
    auto device = config.backend == Backend::Ftdi ? MakeFtdiBoard(config, programDir) : MakeHidRelayBoard(config);
    return std::make_unique<UsbIo>(std::move(device), statusPath);
}

}  // namespace korvport
