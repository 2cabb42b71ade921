// hidrelay:SERIAL or hidrelay:first: a USBRelayN board (16c0:05df) on hidraw,
// found by the serial in its feature report 0x01 and driven by feature reports.
#include <optional>

#include "linux/devices.h"
#include "outputs/hid_relay.h"

namespace kelvane::svc {
namespace {

constexpr unsigned short kVendor = 0x16c0, kProduct = 0x05df;

class HidRelay final : public OutputDevice {
public:
    HidRelay(std::string selector, bool invert, HidApi& api)
        : OutputDevice(invert), m_selector(std::move(selector)), m_api(api) {}

    bool Open(std::string& error) override {
        std::string seen;
        for (const auto& info : m_api.Enumerate(kVendor, kProduct)) {
            const int count = outputs::HidRelayCount(info.product);
            if (count == 0) continue;
            hid_device* dev = m_api.OpenPath(info.path.c_str());
            if (dev == nullptr) {
                seen += " " + info.path + " (cannot open)";
                continue;
            }
            unsigned char buf[outputs::kHidRelayReportSize] = {0x01};
            const int got = m_api.GetFeatureReport(dev, buf, sizeof buf);
            const auto status = outputs::ParseHidRelayStatus(buf, got > 0 ? static_cast<std::size_t>(got) : 0);
            if (got > 0 && (m_selector == "first" || status.serial == m_selector)) {
                m_dev = dev;
                m_plan.emplace(count, m_invert);
                return true;
            }
            seen += " " + (got > 0 ? status.serial : info.path + " (no status)");
            m_api.Close(dev);
        }
        error = "no relay board " + m_selector + (seen.empty() ? " found" : "; found:" + seen);
        return false;
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
};

}  // namespace

std::unique_ptr<OutputDevice> MakeHidRelay(const std::string& selector, bool invert, HidApi& api) {
    return std::make_unique<HidRelay>(selector, invert, api);
}

}  // namespace kelvane::svc
