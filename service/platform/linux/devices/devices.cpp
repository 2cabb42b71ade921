#include "service/platform/linux/devices/devices.h"

namespace kelvane::svc {

namespace {

// An agent that only follows its source and publishes: every write is made, to nothing.
class NoOutput final : public outputs::OutputDevice {
public:
    bool Open(std::string&) override { return true; }
    bool Write(const OutputEvent&, std::string&) override { return true; }
    void Close() override {}
};

}  // namespace

OutputApis RealApis() { return {&RealPpdev(), &RealGpiod(), &RealFtdi(), &RealHid()}; }

std::unique_ptr<outputs::OutputDevice> MakeOutputDevice(const OutputSpec& spec, const OutputApis& apis) {
    switch (spec.kind) {
    case OutputSpec::kJournal:
        return MakeJournal(spec.target, spec.invert, spec.radio);
    case OutputSpec::kParport:
        return MakeParport(spec.target, spec.invert, *apis.ppdev);
    case OutputSpec::kGpio:
        return MakeGpio(spec.target, spec.lines, spec.invert, *apis.gpiod);
    case OutputSpec::kFtdi:
        return MakeFtdi(spec.target, spec.invert, *apis.ftdi);
    case OutputSpec::kHidRelay:
        return MakeHidRelay(spec.target, spec.invert, *apis.hid);
    case OutputSpec::kNone:
        return std::make_unique<NoOutput>();
    }
    return nullptr;
}

}  // namespace kelvane::svc
