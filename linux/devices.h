#pragma once
// The device classes behind MakeOutputDevice, one file each.

#include <memory>

#include "linux/output.h"
#include "linux/seams.h"

namespace kelvane::svc {

std::unique_ptr<OutputDevice> MakeJournal(const std::string& path, bool invert);
std::unique_ptr<OutputDevice> MakeParport(const std::string& path, bool invert, PpdevApi& api);
std::unique_ptr<OutputDevice> MakeGpio(const std::string& chip, const std::vector<unsigned>& lines, bool invert,
                                       GpiodApi& api);
std::unique_ptr<OutputDevice> MakeFtdi(const std::string& selector, bool invert, FtdiApi& api);
std::unique_ptr<OutputDevice> MakeHidRelay(const std::string& selector, bool invert, HidApi& api);

}  // namespace kelvane::svc
