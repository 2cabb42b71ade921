#pragma once
// The GPIO binding's seam: libgpiod's calls, faked in tests.

#include <gpiod.h>

#include "service/platform/linux/devices/devices.h"

namespace kelvane::svc {

// libgpiod, the v1 API.
class GpiodApi {
public:
    virtual ~GpiodApi() = default;
    virtual gpiod_chip* ChipOpenLookup(const char* descr) = 0;
    virtual int ChipGetLines(gpiod_chip* chip, unsigned* offsets, unsigned count, gpiod_line_bulk* bulk) = 0;
    virtual int LineRequestBulkOutput(gpiod_line_bulk* bulk, const char* consumer, const int* values) = 0;
    virtual int LineSetValueBulk(gpiod_line_bulk* bulk, const int* values) = 0;
    virtual void LineReleaseBulk(gpiod_line_bulk* bulk) = 0;
    virtual void ChipClose(gpiod_chip* chip) = 0;
};

}  // namespace kelvane::svc
