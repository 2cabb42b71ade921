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
        : selector_(std::move(selector)), invert_(invert), api_(api) {}

    bool Open(std::string& error) override {
        std::string seen;
        for (const auto& info : api_.Enumerate(kVendor, kProduct)) {
            const int count = outputs::HidRelayCount(info.product);
            if (count == 0) continue;
            hid_device* dev = api_.OpenPath(info.path.c_str());
            if (dev == nullptr) {
                seen += " " + info.path + " (cannot open)";
                continue;
            }
            unsigned char buf[outputs::kHidRelayReportSize] = {0x01};
            const int got = api_.GetFeatureReport(dev, buf, sizeof buf);
            const auto status = outputs::ParseHidRelayStatus(buf, got > 0 ? static_cast<std::size_t>(got) : 0);
            if (got > 0 && (selector_ == "first" || status.serial == selector_)) {
                dev_ = dev;
                plan_.emplace(count, invert_);
                return true;
            }
            seen += " " + (got > 0 ? status.serial : info.path + " (no status)");
            api_.Close(dev);
        }
        error = "no relay board " + selector_ + (seen.empty() ? " found" : "; found:" + seen);
        return false;
    }
    bool Write(const OutputEvent& e, std::string& error) override {
        for (const auto& report : plan_->ReportsFor(e.byte)) {
            if (api_.SendFeatureReport(dev_, report.data(), report.size()) < 0) {
                plan_->Forget();
                error = "relay board " + selector_ + ": a feature report was not delivered";
                return false;
            }
        }
        return true;
    }
    void Close() override {
        if (dev_ == nullptr) return;
        api_.Close(dev_);
        dev_ = nullptr;
        plan_.reset();
    }

private:
    std::string selector_;
    bool invert_;
    HidApi& api_;
    hid_device* dev_ = nullptr;
    std::optional<outputs::HidRelayPlan> plan_;
};

}  // namespace

std::unique_ptr<OutputDevice> MakeHidRelay(const std::string& selector, bool invert, HidApi& api) {
    return std::make_unique<HidRelay>(selector, invert, api);
}

}  // namespace kelvane::svc
