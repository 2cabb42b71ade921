// hidrelay:SERIAL or hidrelay:first: a USBRelayN board (16c0:05df) on hidraw,
// found by the serial in its feature report 0x01 and driven by feature reports.
#include <optional>
#include <vector>

#include "service/platform/linux/devices/hidrelay.h"
#include "outputs/hid_relay.h"

namespace kelvane::svc {
namespace {

class RealHidApi final : public HidApi {
public:
    RealHidApi() { hid_init(); }
    ~RealHidApi() override { hid_exit(); }
    std::vector<DeviceInfo> Enumerate(unsigned short vendor, unsigned short product) override {
        std::vector<DeviceInfo> out;
        hid_device_info* list = hid_enumerate(vendor, product);
        for (hid_device_info* d = list; d != nullptr; d = d->next) {
            DeviceInfo info{d->path ? d->path : "", {}};
            for (const wchar_t* w = d->product_string; w && *w; ++w)
                info.product.push_back(*w < 0x80 ? static_cast<char>(*w) : '?');
            out.push_back(std::move(info));
        }
        hid_free_enumeration(list);
        return out;
    }
    hid_device* OpenPath(const char* path) override { return hid_open_path(path); }
    int GetFeatureReport(hid_device* dev, unsigned char* data, std::size_t length) override {
        return hid_get_feature_report(dev, data, length);
    }
    int SendFeatureReport(hid_device* dev, const unsigned char* data, std::size_t length) override {
        return hid_send_feature_report(dev, data, length);
    }
    void Close(hid_device* dev) override { hid_close(dev); }
};

constexpr unsigned short kVendor = 0x16c0, kProduct = 0x05df;

class HidRelay final : public outputs::OutputDevice {
public:
    HidRelay(std::string selector, bool invert, HidApi& api)
        : OutputDevice(invert), m_selector(std::move(selector)), m_api(api) {}

    bool Open(std::string& error) override {
        std::vector<outputs::HidRelayFound> found;
        std::vector<hid_device*> devices;
        std::vector<std::optional<std::uint8_t>> relays;
        for (const auto& info : m_api.Enumerate(kVendor, kProduct)) {
            outputs::HidRelayFound board{info.path, info.product, {}, {}};
            hid_device* dev = nullptr;
            // Only a relay board is opened and asked for its status.
            relays.emplace_back();
            if (outputs::HidRelayCount(info.product) > 0) {
                dev = m_api.OpenPath(info.path.c_str());
                unsigned char buf[outputs::kHidRelayReportSize] = {0x01};
                const int got = dev ? m_api.GetFeatureReport(dev, buf, sizeof buf) : -1;
                if (dev == nullptr)
                    board.problem = "cannot open";
                else if (got <= 0)
                    board.problem = "no status";
                else {
                    const auto status = outputs::ParseHidRelayStatus(buf, static_cast<std::size_t>(got));
                    board.serial = status.serial;
                    relays.back() = status.relays;
                }
            }
            found.push_back(std::move(board));
            devices.push_back(dev);
        }
        const auto choice = outputs::ChooseHidRelay(found, m_selector == "first" ? "" : m_selector);
        for (std::size_t i = 0; i < devices.size(); ++i)
            if (devices[i] != nullptr && choice.index != i) m_api.Close(devices[i]);
        if (!choice.index) {
            error = choice.why;
            return false;
        }
        m_dev = devices[*choice.index];
        m_plan.emplace(choice.relays, m_invert);
        m_relays = relays[*choice.index];
        m_count = choice.relays;
        return true;
    }
    // The relays beyond the board's count read as released.
    std::optional<std::uint8_t> Holds() override {
        if (!m_relays) return std::nullopt;
        const auto mask = static_cast<std::uint8_t>((1u << m_count) - 1u);
        return static_cast<std::uint8_t>((m_invert ? ~*m_relays : *m_relays) & mask);
    }
    bool Write(const OutputEvent& e, std::string& error) override {
        for (const auto& report : m_plan->ReportsFor(e.byte)) {
            if (m_api.SendFeatureReport(m_dev, report.data(), report.size()) < 0) {
                m_plan->Forget();
                error = "relay board " + m_selector + ": a feature report was not delivered";
                return false;
            }
        }
        return true;
    }
    void Close() override {
        if (m_dev == nullptr) return;
        m_api.Close(m_dev);
        m_dev = nullptr;
        m_plan.reset();
    }

private:
    std::string m_selector;
    HidApi& m_api;
    hid_device* m_dev = nullptr;
    std::optional<outputs::HidRelayPlan> m_plan;
    std::optional<std::uint8_t> m_relays;  // as the status report said at open
    int m_count = 0;
};

}  // namespace

HidApi& RealHid() {
    static RealHidApi api;
    return api;
}

std::unique_ptr<outputs::OutputDevice> MakeHidRelay(const std::string& selector, bool invert, HidApi& api) {
    return std::make_unique<HidRelay>(selector, invert, api);
}

}  // namespace kelvane::svc
