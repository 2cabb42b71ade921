// ftdi:SERIAL or ftdi:#INDEX: an FT232R (0403:6001) in asynchronous bit-bang,
// D0-D7 as outputs. Bit-bang is entered at the first write after each open,
// with that write's byte right behind it.
#include <charconv>

#include "linux/devices.h"
#include "outputs/wire_byte.h"

namespace kelvane::svc {
namespace {

constexpr int kVendor = 0x0403, kProduct = 0x6001;
// A lost board must not hold the poll for libftdi's default five seconds.
constexpr int kUsbTimeoutMs = 200;

class Ftdi final : public OutputDevice {
public:
    Ftdi(std::string selector, bool invert, FtdiApi& api) : selector_(std::move(selector)), invert_(invert), api_(api) {}

    bool Open(std::string& error) override {
        ctx_ = api_.New();
        if (ctx_ == nullptr) {
            error = "libftdi could not start";
            return false;
        }
        ctx_->usb_write_timeout = kUsbTimeoutMs;
        ctx_->usb_read_timeout = kUsbTimeoutMs;
        int rc;
        if (selector_[0] == '#') {
            unsigned index = 0;
            std::from_chars(selector_.data() + 1, selector_.data() + selector_.size(), index);
            rc = api_.UsbOpenDescIndex(ctx_, kVendor, kProduct, index);
        } else {
            rc = api_.UsbOpenDesc(ctx_, kVendor, kProduct, selector_.c_str());
        }
        if (rc < 0) {
            error = "FTDI " + selector_ + ": " + api_.ErrorString(ctx_);
            api_.Free(ctx_);
            ctx_ = nullptr;
            return false;
        }
        bitbang_ = false;
        return true;
    }
    bool Write(const OutputEvent& e, std::string& error) override {
        if (!bitbang_ && api_.SetBitmode(ctx_, 0xFF, BITMODE_BITBANG) < 0) {
            error = "FTDI " + selector_ + " bit-bang: " + api_.ErrorString(ctx_);
            return false;
        }
        bitbang_ = true;
        const unsigned char wire = outputs::WireByte(e.byte, invert_);
        if (api_.WriteData(ctx_, &wire, 1) == 1) return true;
        error = "FTDI " + selector_ + " write: " + api_.ErrorString(ctx_);
        return false;
    }
    void Close() override {
        if (ctx_ == nullptr) return;
        // No bit-mode reset: it would drop the relays.
        api_.UsbClose(ctx_);
        api_.Free(ctx_);
        ctx_ = nullptr;
    }

private:
    std::string selector_;
    bool invert_;
    FtdiApi& api_;
    ftdi_context* ctx_ = nullptr;
    bool bitbang_ = false;
};

}  // namespace

std::unique_ptr<OutputDevice> MakeFtdi(const std::string& selector, bool invert, FtdiApi& api) {
    return std::make_unique<Ftdi>(selector, invert, api);
}

}  // namespace kelvane::svc
