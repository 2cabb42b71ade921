#pragma once
// The FTDI binding's seam: libftdi1's calls, faked in tests.

#include <libftdi1/ftdi.h>

#include <string>

#include "service/platform/linux/devices/devices.h"

namespace kelvane::svc {

// libftdi1.
class FtdiApi {
public:
    virtual ~FtdiApi() = default;
    virtual ftdi_context* New() = 0;
    virtual void Free(ftdi_context* ftdi) = 0;
    virtual int UsbOpenDesc(ftdi_context* ftdi, int vendor, int product, const char* serial) = 0;
    virtual int UsbOpenDescIndex(ftdi_context* ftdi, int vendor, int product, unsigned index) = 0;
    virtual int SetBitmode(ftdi_context* ftdi, unsigned char mask, unsigned char mode) = 0;
    virtual int WriteData(ftdi_context* ftdi, const unsigned char* buf, int size) = 0;
    virtual int UsbClose(ftdi_context* ftdi) = 0;
    // ftdi_read_pins; a seam that cannot read says so.
    virtual int ReadPins(ftdi_context*, unsigned char*) { return -1; }
    virtual std::string ErrorString(ftdi_context* ftdi) = 0;
};

}  // namespace kelvane::svc
