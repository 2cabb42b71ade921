// The ftdi backend: an FT245R/FT232R board in asynchronous bit-bang mode,
// whose D0-D7 follow each byte written, through FTDI's D2XX library.

#include "driver/usb_io.h"
#include "outputs/wire_byte.h"

namespace korvport {
namespace {

using FtHandle = void*;
using FtStatus = ULONG;
constexpr FtStatus kFtOk = 0;
constexpr DWORD kOpenBySerialNumber = 1;
constexpr UCHAR kAllOutputs = 0xFF, kAsyncBitBang = 0x01;
// One byte takes about a millisecond; a stuck board must not hold the program's 250 ms timer.
constexpr ULONG kTimeoutMs = 50;

using FtOpenFn = FtStatus(WINAPI*)(int index, FtHandle* handle);
using FtOpenExFn = FtStatus(WINAPI*)(void* arg, DWORD flags, FtHandle* handle);
using FtSetBitModeFn = FtStatus(WINAPI*)(FtHandle, UCHAR mask, UCHAR mode);
using FtSetTimeoutsFn = FtStatus(WINAPI*)(FtHandle, ULONG readMs, ULONG writeMs);
using FtWriteFn = FtStatus(WINAPI*)(FtHandle, void* buffer, DWORD size, DWORD* written);
using FtCloseFn = FtStatus(WINAPI*)(FtHandle);
using FtGetDeviceInfoFn = FtStatus(WINAPI*)(FtHandle, ULONG* type, DWORD* id, char* serial, char* description,
                                            void* reserved);

class FtdiBoard final : public UsbBoard {
public:
    FtdiBoard(const Config& config, std::string programDir)
        : serial_(config.serial),
          index_(config.index < 0 ? 0 : config.index),
          invert_(config.invert),
          programDir_(std::move(programDir)) {}

    bool Open(std::string& serial, std::string& why) override {
        if (!Bind()) {
            why = "ftd2xx.dll (FTDI's D2XX driver) is not installed";
            return false;
        }
        FtHandle handle = nullptr;
        const FtStatus status = serial_.empty()
                                    ? open_(index_, &handle)
                                    : openEx_(const_cast<char*>(serial_.c_str()), kOpenBySerialNumber, &handle);
        if (status != kFtOk || !handle) {
            why = (serial_.empty() ? "no FTDI device number " + std::to_string(index_)
                                   : "no FTDI device with serial " + serial_) +
                  " (status " + std::to_string(status) + ")";
            return false;
        }
        if (setBitMode_(handle, kAllOutputs, kAsyncBitBang) != kFtOk ||
            setTimeouts_(handle, kTimeoutMs, kTimeoutMs) != kFtOk) {
            close_(handle);
            why = "the FTDI device would not enter bit-bang mode";
            return false;
        }
        handle_ = handle;
        serial = serial_.empty() ? SerialOf(handle) : serial_;
        return true;
    }

    bool Send(std::uint8_t value) override {
        UCHAR byte = kelvane::outputs::WireByte(value, invert_);
        DWORD written = 0;
        return write_(handle_, &byte, 1, &written) == kFtOk && written == 1;
    }

    void Close() override {
        close_(handle_);
        handle_ = nullptr;
    }

private:
    // Looked for again on every try, so a driver installed while the program runs is found too.
    bool Bind() {
        if (module_) return true;
        std::string dir = programDir_;
        if (!dir.empty() && dir.back() != '\\' && dir.back() != '/') dir += '\\';
        kelvane::Library module(dir.empty() ? nullptr : kelvane::LoadLibraryQuietly(dir + "ftd2xx.dll"));
        if (!module) module.Reset(kelvane::LoadLibraryQuietly("ftd2xx.dll"));
        if (!module) return false;
        open_ = module.Proc<FtOpenFn>("FT_Open");
        openEx_ = module.Proc<FtOpenExFn>("FT_OpenEx");
        setBitMode_ = module.Proc<FtSetBitModeFn>("FT_SetBitMode");
        setTimeouts_ = module.Proc<FtSetTimeoutsFn>("FT_SetTimeouts");
        write_ = module.Proc<FtWriteFn>("FT_Write");
        close_ = module.Proc<FtCloseFn>("FT_Close");
        getDeviceInfo_ = module.Proc<FtGetDeviceInfoFn>("FT_GetDeviceInfo");
        if (!open_ || !openEx_ || !setBitMode_ || !setTimeouts_ || !write_ || !close_) return false;
        module_ = std::move(module);
        return true;
    }

    // Opened by number, the board is named in the log by its serial when the library tells it.
    std::string SerialOf(FtHandle handle) {
        char serial[64] = "", description[128] = "";
        ULONG type = 0;
        DWORD id = 0;
        if (getDeviceInfo_ && getDeviceInfo_(handle, &type, &id, serial, description, nullptr) == kFtOk) {
            serial[sizeof serial - 1] = '\0';
            if (serial[0]) return serial;
        }
        return "device " + std::to_string(index_);
    }

    std::string serial_;
    int index_;
    bool invert_;
    std::string programDir_;
    kelvane::Library module_;
    FtHandle handle_ = nullptr;
    FtOpenFn open_ = nullptr;
    FtOpenExFn openEx_ = nullptr;
    FtSetBitModeFn setBitMode_ = nullptr;
    FtSetTimeoutsFn setTimeouts_ = nullptr;
    FtWriteFn write_ = nullptr;
    FtCloseFn close_ = nullptr;
    FtGetDeviceInfoFn getDeviceInfo_ = nullptr;
};

}  // namespace

std::unique_ptr<UsbBoard> MakeFtdiBoard(const Config& config, const std::string& programDir) {
    return std::make_unique<FtdiBoard>(config, programDir);
}

}  // namespace korvport
