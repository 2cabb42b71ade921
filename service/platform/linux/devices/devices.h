#pragma once
// The Linux edition's device bindings, one file each, behind one factory. Each
// binding reaches its library only through a small interface of its own
// (declared in its header, named after the library's calls), so that tests can
// record the calls and fail them on demand; the real one forwards to the library.

#include <memory>
#include <string>
#include <vector>

#include "service/config/output_spec.h"
#include "outputs/device.h"

namespace kelvane::svc {

using outputs::OutputDevice;
using outputs::OutputEvent;

class PpdevApi;
class GpiodApi;
class FtdiApi;
class HidApi;
struct OutputApis {
    PpdevApi* ppdev;
    GpiodApi* gpiod;
    FtdiApi* ftdi;
    HidApi* hid;
};
OutputApis RealApis();
std::unique_ptr<outputs::OutputDevice> MakeOutputDevice(const OutputSpec& spec, const OutputApis& apis);

// `radio`, when not empty, is named on every line.
std::unique_ptr<outputs::OutputDevice> MakeJournal(const std::string& path, bool invert, const std::string& radio = {});
std::unique_ptr<outputs::OutputDevice> MakeParport(const std::string& path, bool invert, PpdevApi& api);
std::unique_ptr<outputs::OutputDevice> MakeGpio(const std::string& chip, const std::vector<unsigned>& lines,
                                                bool invert, GpiodApi& api);
std::unique_ptr<outputs::OutputDevice> MakeFtdi(const std::string& selector, bool invert, FtdiApi& api);
std::unique_ptr<outputs::OutputDevice> MakeHidRelay(const std::string& selector, bool invert, HidApi& api);

PpdevApi& RealPpdev();
GpiodApi& RealGpiod();
FtdiApi& RealFtdi();
HidApi& RealHid();

}  // namespace kelvane::svc
