#pragma once
// The parallel port binding's seam: ppdev's calls, faked in tests.

#include "service/platform/linux/devices/devices.h"

namespace kelvane::svc {

// The parallel port through the kernel's ppdev driver.
class PpdevApi {
public:
    virtual ~PpdevApi() = default;
    virtual int Open(const char* path, int flags) = 0;
    virtual int Ioctl(int fd, unsigned long request, void* arg) = 0;  // PPCLAIM, PPWDATA, PPRELEASE
    virtual int Close(int fd) = 0;
};

}  // namespace kelvane::svc
