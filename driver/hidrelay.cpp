// The hidrelay backend: "USBRelayN" HID boards, switched by feature reports.
// hid.dll and setupapi.dll are bound at run time, by the names Windows XP
// exports, so the library still loads where either is missing.

#include <windows.h>

#include <setupapi.h>

#include <cstddef>
#include <vector>

#include "driver/usb_io.h"
#include "outputs/hid_relay.h"

namespace korvport {
namespace {

using namespace kelvane::outputs;

constexpr USHORT kVendor = 0x16C0, kProduct = 0x05DF;
constexpr UCHAR kStatusReport = 0x01;

struct HiddAttributes {
    ULONG Size;
    USHORT VendorID;
    USHORT ProductID;
    USHORT VersionNumber;
};

using GetHidGuidFn = void(WINAPI*)(GUID*);
using GetAttributesFn = BOOLEAN(WINAPI*)(HANDLE, HiddAttributes*);
using FeatureFn = BOOLEAN(WINAPI*)(HANDLE, void*, ULONG);
using GetClassDevsFn = HDEVINFO(WINAPI*)(const GUID*, PCSTR, HWND, DWORD);
using EnumInterfacesFn = BOOL(WINAPI*)(HDEVINFO, PSP_DEVINFO_DATA, const GUID*, DWORD, PSP_DEVICE_INTERFACE_DATA);
using GetInterfaceDetailFn = BOOL(WINAPI*)(HDEVINFO, PSP_DEVICE_INTERFACE_DATA, PSP_DEVICE_INTERFACE_DETAIL_DATA_A,
                                           DWORD, PDWORD, PSP_DEVINFO_DATA);
using DestroyListFn = BOOL(WINAPI*)(HDEVINFO);

class HidRelayBoard final : public UsbBoard {
public:
    explicit HidRelayBoard(const Config& config) : serial_(config.serial), invert_(config.invert), plan_(8, invert_) {}

    bool Open(std::string& serial, std::string& why) override {
        if (!Bind()) {
            why = "hid.dll or setupapi.dll lacks what HID relay boards need";
            return false;
        }
        GUID hidGuid;
        getHidGuid_(&hidGuid);
        const HDEVINFO list = getClassDevs_(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        if (list == INVALID_HANDLE_VALUE) {
            why = "the HID devices could not be listed";
            return false;
        }
        int boards = 0;
        SP_DEVICE_INTERFACE_DATA item{};
        item.cbSize = sizeof item;
        for (DWORD i = 0; !handle_ && enumInterfaces_(list, nullptr, &hidGuid, i, &item); ++i) {
            const std::string path = PathOf(list, item);
            if (!path.empty()) TryBoard(path, serial, boards);
        }
        destroyList_(list);
        if (handle_) return true;
        why = serial_.empty() ? "no USBRelay board"
                              : "no USBRelay board with serial " + serial_ + " (" + std::to_string(boards) +
                                    " other board" + (boards == 1 ? "" : "s") + " present)";
        return false;
    }

    bool Send(std::uint8_t value) override {
        for (auto report : plan_.ReportsFor(value)) {
            if (!setFeature_(handle_, report.data(), static_cast<ULONG>(report.size()))) {
                plan_.Forget();
                return false;
            }
        }
        return true;
    }

    void Close() override {
        CloseHandle(handle_);
        handle_ = nullptr;
    }

private:
    bool Bind() {
        if (hid_ && setupApi_) return true;
        if (!hid_) hid_.Reset(kelvane::LoadLibraryQuietly("hid.dll"));
        if (!setupApi_) setupApi_.Reset(kelvane::LoadLibraryQuietly("setupapi.dll"));
        if (!hid_ || !setupApi_) return false;
        getHidGuid_ = kelvane::ProcAs<GetHidGuidFn>(hid_.Get(), "HidD_GetHidGuid");
        getAttributes_ = kelvane::ProcAs<GetAttributesFn>(hid_.Get(), "HidD_GetAttributes");
        getProduct_ = kelvane::ProcAs<FeatureFn>(hid_.Get(), "HidD_GetProductString");
        getFeature_ = kelvane::ProcAs<FeatureFn>(hid_.Get(), "HidD_GetFeature");
        setFeature_ = kelvane::ProcAs<FeatureFn>(hid_.Get(), "HidD_SetFeature");
        getClassDevs_ = kelvane::ProcAs<GetClassDevsFn>(setupApi_.Get(), "SetupDiGetClassDevsA");
        enumInterfaces_ = kelvane::ProcAs<EnumInterfacesFn>(setupApi_.Get(), "SetupDiEnumDeviceInterfaces");
        getInterfaceDetail_ =
            kelvane::ProcAs<GetInterfaceDetailFn>(setupApi_.Get(), "SetupDiGetDeviceInterfaceDetailA");
        destroyList_ = kelvane::ProcAs<DestroyListFn>(setupApi_.Get(), "SetupDiDestroyDeviceInfoList");
        return getHidGuid_ && getAttributes_ && getProduct_ && getFeature_ && setFeature_ && getClassDevs_ &&
               enumInterfaces_ && getInterfaceDetail_ && destroyList_;
    }

    std::string PathOf(HDEVINFO list, SP_DEVICE_INTERFACE_DATA& item) {
        DWORD needed = 0;
        getInterfaceDetail_(list, &item, nullptr, 0, &needed, nullptr);
        if (needed < sizeof(DWORD) + 2 || needed > 4096) return {};
        std::vector<DWORD> buffer(needed / sizeof(DWORD) + 1);
        auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(buffer.data());
        // The 32-bit structure's size: a DWORD and one character, unpadded.
        detail->cbSize = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + sizeof(CHAR);
        if (!getInterfaceDetail_(list, &item, detail, needed, nullptr, nullptr)) return {};
        return std::string(detail->DevicePath, strnlen(detail->DevicePath, needed - sizeof(DWORD)));
    }

    // Keeps the board open when it is the one asked for; `boards` counts the others.
    void TryBoard(const std::string& path, std::string& serial, int& boards) {
        const HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) return;  // keyboards and mice refuse, and are not ours
        HiddAttributes attributes{};
        attributes.Size = sizeof attributes;
        WCHAR product[64] = {};
        int count = 0;
        if (getAttributes_(h, &attributes) && attributes.VendorID == kVendor && attributes.ProductID == kProduct &&
            getProduct_(h, product, sizeof product - sizeof(WCHAR))) {
            std::string name;
            for (const WCHAR* c = product; *c && name.size() < 16; ++c) name += *c < 0x80 ? static_cast<char>(*c) : '?';
            count = HidRelayCount(name);
        }
        std::uint8_t status[kHidRelayReportSize] = {kStatusReport};
        if (count == 0 || !getFeature_(h, status, sizeof status)) {
            CloseHandle(h);
            return;
        }
        // The board answers in place of the report id: serial in bytes 0-4, relays in byte 7.
        const HidRelayStatus found = ParseHidRelayStatus(status, sizeof status);
        if (!serial_.empty() && found.serial != serial_) {
            ++boards;
            CloseHandle(h);
            return;
        }
        handle_ = h;
        serial = found.serial + " (" + std::to_string(count) + " relays)";
        plan_ = HidRelayPlan(count, invert_);
    }

    std::string serial_;
    bool invert_;
    HidRelayPlan plan_;
    HANDLE handle_ = nullptr;
    kelvane::Library hid_;
    kelvane::Library setupApi_;
    GetHidGuidFn getHidGuid_ = nullptr;
    GetAttributesFn getAttributes_ = nullptr;
    FeatureFn getProduct_ = nullptr;
    FeatureFn getFeature_ = nullptr;
    FeatureFn setFeature_ = nullptr;
    GetClassDevsFn getClassDevs_ = nullptr;
    EnumInterfacesFn enumInterfaces_ = nullptr;
    GetInterfaceDetailFn getInterfaceDetail_ = nullptr;
    DestroyListFn destroyList_ = nullptr;
};

}  // namespace

std::unique_ptr<UsbBoard> MakeHidRelayBoard(const Config& config) { return std::make_unique<HidRelayBoard>(config); }

}  // namespace korvport
