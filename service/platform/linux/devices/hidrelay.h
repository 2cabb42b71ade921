#pragma once
// The HID relay binding's seam: hidapi's calls, faked in tests.

#include <hidapi/hidapi.h>

#include <string>
#include <vector>

#include "service/platform/linux/devices/devices.h"

namespace kelvane::svc {

// hidapi on hidraw. Enumerate returns what hid_enumerate lists, copied.
class HidApi {
public:
    struct DeviceInfo {
        std::string path;
        std::string product;  // the product string, ASCII
    };
    virtual ~HidApi() = default;
    virtual std::vector<DeviceInfo> Enumerate(unsigned short vendor, unsigned short product) = 0;
    virtual hid_device* OpenPath(const char* path) = 0;
    virtual int GetFeatureReport(hid_device* dev, unsigned char* data, std::size_t length) = 0;
    virtual int SendFeatureReport(hid_device* dev, const unsigned char* data, std::size_t length) = 0;
    virtual void Close(hid_device* dev) = 0;
};

}  // namespace kelvane::svc
