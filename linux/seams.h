#pragma once
// Each hardware output reaches its library only through one of these small
// interfaces, named after the calls they stand for, so that tests can record
// the calls and fail them on demand. The real ones forward to the library.

#include <gpiod.h>
#include <hidapi/hidapi.h>
#include <libftdi1/ftdi.h>

#include <string>
#include <vector>

namespace kelvane::svc {

// The parallel port through the kernel's ppdev driver.
class PpdevApi {
public:
    virtual ~PpdevApi() = default;
    virtual int Open(const char* path, int flags) = 0;
    virtual int Ioctl(int fd, unsigned long request, void* arg) = 0;  // PPCLAIM, PPWDATA, PPRELEASE
    virtual int Close(int fd) = 0;
};

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
    virtual std::string ErrorString(ftdi_context* ftdi) = 0;
};

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

PpdevApi& RealPpdev();
GpiodApi& RealGpiod();
FtdiApi& RealFtdi();
HidApi& RealHid();

}  // namespace kelvane::svc
