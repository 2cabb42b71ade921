#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "linux/seams.h"

namespace kelvane::svc {
namespace {

class Ppdev final : public PpdevApi {
public:
    int Open(const char* path, int flags) override { return ::open(path, flags); }
    int Ioctl(int fd, unsigned long request, void* arg) override { return ::ioctl(fd, request, arg); }
    int Close(int fd) override { return ::close(fd); }
};

class Gpiod final : public GpiodApi {
public:
    gpiod_chip* ChipOpenLookup(const char* descr) override { return gpiod_chip_open_lookup(descr); }
    int ChipGetLines(gpiod_chip* chip, unsigned* offsets, unsigned count, gpiod_line_bulk* bulk) override {
        return gpiod_chip_get_lines(chip, offsets, count, bulk);
    }
    int LineRequestBulkOutput(gpiod_line_bulk* bulk, const char* consumer, const int* values) override {
        return gpiod_line_request_bulk_output(bulk, consumer, values);
    }
    int LineSetValueBulk(gpiod_line_bulk* bulk, const int* values) override {
        return gpiod_line_set_value_bulk(bulk, values);
    }
    void LineReleaseBulk(gpiod_line_bulk* bulk) override { gpiod_line_release_bulk(bulk); }
    void ChipClose(gpiod_chip* chip) override { gpiod_chip_close(chip); }
};

class Ftdi final : public FtdiApi {
public:
    ftdi_context* New() override { return ftdi_new(); }
    void Free(ftdi_context* ftdi) override { ftdi_free(ftdi); }
    int UsbOpenDesc(ftdi_context* ftdi, int vendor, int product, const char* serial) override {
        return ftdi_usb_open_desc(ftdi, vendor, product, nullptr, serial);
    }
    int UsbOpenDescIndex(ftdi_context* ftdi, int vendor, int product, unsigned index) override {
        return ftdi_usb_open_desc_index(ftdi, vendor, product, nullptr, nullptr, index);
    }
    int SetBitmode(ftdi_context* ftdi, unsigned char mask, unsigned char mode) override {
        return ftdi_set_bitmode(ftdi, mask, mode);
    }
    int WriteData(ftdi_context* ftdi, const unsigned char* buf, int size) override {
        return ftdi_write_data(ftdi, buf, size);
    }
    int UsbClose(ftdi_context* ftdi) override { return ftdi_usb_close(ftdi); }
    std::string ErrorString(ftdi_context* ftdi) override {
        const char* s = ftdi_get_error_string(ftdi);
        return s ? s : "";
    }
};

class Hid final : public HidApi {
public:
    Hid() { hid_init(); }
    ~Hid() override { hid_exit(); }
    std::vector<DeviceInfo> Enumerate(unsigned short vendor, unsigned short product) override {
        std::vector<DeviceInfo> out;
        hid_device_info* list = hid_enumerate(vendor, product);
        for (hid_device_info* d = list; d != nullptr; d = d->next) {
            DeviceInfo info{d->path ? d->path : "", {}};
            for (const wchar_t* w = d->product_string; w && *w; ++w)
                info.product.push_back(*w < 0x80 ? static_cast<char>(*w) : '?');
            out.push_back(std::move(info));
        }
        hid_free_enumeration(list);
        return out;
    }
    hid_device* OpenPath(const char* path) override { return hid_open_path(path); }
    int GetFeatureReport(hid_device* dev, unsigned char* data, std::size_t length) override {
        return hid_get_feature_report(dev, data, length);
    }
    int SendFeatureReport(hid_device* dev, const unsigned char* data, std::size_t length) override {
        return hid_send_feature_report(dev, data, length);
    }
    void Close(hid_device* dev) override { hid_close(dev); }
};

}  // namespace

PpdevApi& RealPpdev() {
    static Ppdev api;
    return api;
}
GpiodApi& RealGpiod() {
    static Gpiod api;
    return api;
}
FtdiApi& RealFtdi() {
    static Ftdi api;
    return api;
}
HidApi& RealHid() {
    static Hid api;
    return api;
}

}  // namespace kelvane::svc
