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

class FtdiBoard final : public kelvane::outputs::OutputDevice {
public:
    FtdiBoard(const Config& config, std::string libraryDir)
        : OutputDevice(config.invert),
          m_serial(config.serial),
          m_index(config.index < 0 ? 0 : config.index),
          m_libraryDir(std::move(libraryDir)) {}

    bool Open(std::string& why) override {
        if (!Bind()) {
            why = "ftd2xx.dll (FTDI's D2XX driver) is not installed";
            return false;
        }
        FtHandle handle = nullptr;
        const FtStatus status = m_serial.empty()
                                    ? m_open(m_index, &handle)
                                    : m_openEx(const_cast<char*>(m_serial.c_str()), kOpenBySerialNumber, &handle);
        if (status != kFtOk || !handle) {
            why = (m_serial.empty() ? "no FTDI device number " + std::to_string(m_index)
                                    : "no FTDI device with serial " + m_serial) +
                  " (status " + std::to_string(status) + ")";
            return false;
        }
        if (m_setBitMode(handle, kAllOutputs, kAsyncBitBang) != kFtOk ||
            m_setTimeouts(handle, kTimeoutMs, kTimeoutMs) != kFtOk) {
            m_close(handle);
            why = "the FTDI device would not enter bit-bang mode";
            return false;
        }
        m_handle = handle;
        m_name = m_serial.empty() ? SerialOf(handle) : m_serial;
        return true;
    }

    std::string Name() const override { return m_name; }

    bool Write(const kelvane::outputs::OutputEvent& event, std::string& why) override {
        UCHAR byte = kelvane::outputs::WireByte(event.byte, m_invert);
        DWORD written = 0;
        const FtStatus status = m_write(m_handle, &byte, 1, &written);
        if (status == kFtOk && written == 1) return true;
        why = "FT_Write status " + std::to_string(status);
        return false;
    }

    void Close() override {
        m_close(m_handle);
        m_handle = nullptr;
    }

private:
    // Looked for again on every try, so a driver installed while the program runs is found too.
    bool Bind() {
        if (m_module) return true;
        kelvane::Library module(kelvane::LoadLibraryBesideOrSystem(m_libraryDir, "ftd2xx.dll"));
        if (!module) return false;
        m_open = module.Proc<FtOpenFn>("FT_Open");
        m_openEx = module.Proc<FtOpenExFn>("FT_OpenEx");
        m_setBitMode = module.Proc<FtSetBitModeFn>("FT_SetBitMode");
        m_setTimeouts = module.Proc<FtSetTimeoutsFn>("FT_SetTimeouts");
        m_write = module.Proc<FtWriteFn>("FT_Write");
        m_close = module.Proc<FtCloseFn>("FT_Close");
        m_getDeviceInfo = module.Proc<FtGetDeviceInfoFn>("FT_GetDeviceInfo");
        if (!m_open || !m_openEx || !m_setBitMode || !m_setTimeouts || !m_write || !m_close) return false;
        m_module = std::move(module);
        return true;
    }

    // Opened by number, the board is named in the log by its serial when the library tells it.
    std::string SerialOf(FtHandle handle) {
        char serial[64] = "", description[128] = "";
        ULONG type = 0;
        DWORD id = 0;
        if (m_getDeviceInfo && m_getDeviceInfo(handle, &type, &id, serial, description, nullptr) == kFtOk) {
            serial[sizeof serial - 1] = '\0';
            if (serial[0]) return serial;
        }
        return "device " + std::to_string(m_index);
    }

    std::string m_serial;
    int m_index;
    std::string m_libraryDir;
    std::string m_name;
    kelvane::Library m_module;
    FtHandle m_handle = nullptr;
    FtOpenFn m_open = nullptr;
    FtOpenExFn m_openEx = nullptr;
    FtSetBitModeFn m_setBitMode = nullptr;
    FtSetTimeoutsFn m_setTimeouts = nullptr;
    FtWriteFn m_write = nullptr;
    FtCloseFn m_close = nullptr;
    FtGetDeviceInfoFn m_getDeviceInfo = nullptr;
};

}  // namespace

std::unique_ptr<kelvane::outputs::OutputDevice> MakeFtdiBoard(const Config& config, const std::string& libraryDir) {
    return std::make_unique<FtdiBoard>(config, libraryDir);
}

}  // namespace korvport
