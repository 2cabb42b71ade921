// ftdi:SERIAL or ftdi:#INDEX: an FT232R (0403:6001) in asynchronous bit-bang,
// D0-D7 as outputs. Bit-bang is entered at the first write after each open,
// with that write's byte right behind it.
#include <charconv>

#include "service/platform/linux/devices/ftdi.h"
#include "outputs/wire_byte.h"

namespace kelvane::svc {
namespace {

class RealFtdiApi final : public FtdiApi {
public:
    ftdi_context* New() override { return ftdi_new(); }
    void Free(ftdi_context* ftdi) override { ftdi_free(ftdi); }
    int UsbOpenDesc(ftdi_context* ftdi, int vendor, int product, const char* serial) override {
        return ftdi_usb_open_desc(ftdi, vendor, product, nullptr, serial);
    }
    int UsbOpenDescIndex(ftdi_context* ftdi, int vendor, int product, unsigned index) override {
        return ftdi_usb_open_desc_index(ftdi, vendor, product, nullptr, nullptr, index);
    }
    int SetBitmode(ftdi_context* ftdi, unsigned char mask, unsigned char mode) override {
        return ftdi_set_bitmode(ftdi, mask, mode);
    }
    int WriteData(ftdi_context* ftdi, const unsigned char* buf, int size) override {
        return ftdi_write_data(ftdi, buf, size);
    }
    int UsbClose(ftdi_context* ftdi) override { return ftdi_usb_close(ftdi); }
    int ReadPins(ftdi_context* ftdi, unsigned char* pins) override { return ftdi_read_pins(ftdi, pins); }
    std::string ErrorString(ftdi_context* ftdi) override {
        const char* s = ftdi_get_error_string(ftdi);
        return s ? s : "";
    }
};

constexpr int kVendor = 0x0403, kProduct = 0x6001;
// A lost board must not hold the poll for libftdi's default five seconds.
constexpr int kUsbTimeoutMs = 200;

class Ftdi final : public outputs::OutputDevice {
public:
    Ftdi(std::string selector, bool invert, FtdiApi& api)
        : OutputDevice(invert), m_selector(std::move(selector)), m_api(api) {}

    bool Open(std::string& error) override {
        m_ctx = m_api.New();
        if (m_ctx == nullptr) {
            error = "libftdi could not start";
            return false;
        }
        m_ctx->usb_write_timeout = kUsbTimeoutMs;
        m_ctx->usb_read_timeout = kUsbTimeoutMs;
        int rc;
        if (m_selector[0] == '#') {
            unsigned index = 0;
            std::from_chars(m_selector.data() + 1, m_selector.data() + m_selector.size(), index);
            rc = m_api.UsbOpenDescIndex(m_ctx, kVendor, kProduct, index);
        } else {
            rc = m_api.UsbOpenDesc(m_ctx, kVendor, kProduct, m_selector.c_str());
        }
        if (rc < 0) {
            error = "FTDI " + m_selector + ": " + m_api.ErrorString(m_ctx);
            m_api.Free(m_ctx);
            m_ctx = nullptr;
            return false;
        }
        m_bitbang = false;
        return true;
    }
    bool Write(const OutputEvent& e, std::string& error) override {
        if (!m_bitbang && m_api.SetBitmode(m_ctx, 0xFF, BITMODE_BITBANG) < 0) {
            error = "FTDI " + m_selector + " bit-bang: " + m_api.ErrorString(m_ctx);
            return false;
        }
        m_bitbang = true;
        const unsigned char wire = outputs::WireByte(e.byte, m_invert);
        if (m_api.WriteData(m_ctx, &wire, 1) == 1) return true;
        error = "FTDI " + m_selector + " write: " + m_api.ErrorString(m_ctx);
        return false;
    }
    // The pins as the chip drives them: still the last byte while it stayed in bit-bang.
    std::optional<std::uint8_t> Holds() override {
        unsigned char pins = 0;
        if (m_api.ReadPins(m_ctx, &pins) < 0) return std::nullopt;
        return outputs::WireByte(pins, m_invert);
    }
    void Close() override {
        if (m_ctx == nullptr) return;
        // No bit-mode reset: it would drop the relays.
        m_api.UsbClose(m_ctx);
        m_api.Free(m_ctx);
        m_ctx = nullptr;
    }

private:
    std::string m_selector;
    FtdiApi& m_api;
    ftdi_context* m_ctx = nullptr;
    bool m_bitbang = false;
};

}  // namespace

FtdiApi& RealFtdi() {
    static RealFtdiApi api;
    return api;
}

std::unique_ptr<outputs::OutputDevice> MakeFtdi(const std::string& selector, bool invert, FtdiApi& api) {
    return std::make_unique<Ftdi>(selector, invert, api);
}

}  // namespace kelvane::svc
