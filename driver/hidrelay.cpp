// The hidrelay backend: "USBRelayN" HID boards, switched by feature reports.
// hid.dll and setupapi.dll are bound at run time, by the names Windows XP
// exports, so the library still loads where either is missing.

#include <windows.h>

#include <setupapi.h>

#include <cstddef>
#include <string>
#include <utility>
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

class HidRelayBoard final : public OutputDevice {
public:
    HidRelayBoard(const Config& config, std::string libraryDir)
        : OutputDevice(config.invert),
          m_serial(config.serial),
          m_libraryDir(std::move(libraryDir)),
          m_plan(8, m_invert) {}

    bool Open(std::string& why) override {
        if (!Bind()) {
            why = "hid.dll or setupapi.dll lacks what HID relay boards need";
            return false;
        }
        GUID hidGuid;
        m_getHidGuid(&hidGuid);
        const HDEVINFO list = m_getClassDevs(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        if (list == INVALID_HANDLE_VALUE) {
            why = "the HID devices could not be listed";
            return false;
        }
        std::vector<HidRelayFound> found;
        std::vector<HANDLE> handles;
        SP_DEVICE_INTERFACE_DATA item{};
        item.cbSize = sizeof item;
        for (DWORD i = 0; m_enumInterfaces(list, nullptr, &hidGuid, i, &item); ++i) {
            const std::string path = PathOf(list, item);
            if (path.empty()) continue;
            HidRelayFound board;
            const HANDLE h = Inspect(path, board);
            if (h == INVALID_HANDLE_VALUE) continue;
            found.push_back(std::move(board));
            handles.push_back(h);
        }
        m_destroyList(list);
        const HidRelayChoice choice = ChooseHidRelay(found, m_serial);
        for (std::size_t i = 0; i < handles.size(); ++i)
            if (choice.index != i) CloseHandle(handles[i]);
        if (!choice.index) {
            why = choice.why;
            return false;
        }
        m_handle = handles[*choice.index];
        m_name = found[*choice.index].serial + " (" + std::to_string(choice.relays) + " relays)";
        m_plan = HidRelayPlan(choice.relays, m_invert);
        return true;
    }

    std::string Name() const override { return m_name; }

    bool Write(const OutputEvent& event, std::string& why) override {
        for (auto report : m_plan.ReportsFor(event.byte)) {
            if (!m_setFeature(m_handle, report.data(), static_cast<ULONG>(report.size()))) {
                m_plan.Forget();
                why = "a feature report was not delivered";
                return false;
            }
        }
        return true;
    }

    void Close() override {
        CloseHandle(m_handle);
        m_handle = nullptr;
    }

private:
    bool Bind() {
        if (m_hid && m_setupApi) return true;
        if (!m_hid) m_hid.Reset(kelvane::LoadLibraryBesideOrSystem(m_libraryDir, "hid.dll"));
        if (!m_setupApi) m_setupApi.Reset(kelvane::LoadLibraryBesideOrSystem(m_libraryDir, "setupapi.dll"));
        if (!m_hid || !m_setupApi) return false;
        m_getHidGuid = kelvane::ProcAs<GetHidGuidFn>(m_hid.Get(), "HidD_GetHidGuid");
        m_getAttributes = kelvane::ProcAs<GetAttributesFn>(m_hid.Get(), "HidD_GetAttributes");
        m_getProduct = kelvane::ProcAs<FeatureFn>(m_hid.Get(), "HidD_GetProductString");
        m_getFeature = kelvane::ProcAs<FeatureFn>(m_hid.Get(), "HidD_GetFeature");
        m_setFeature = kelvane::ProcAs<FeatureFn>(m_hid.Get(), "HidD_SetFeature");
        m_getClassDevs = kelvane::ProcAs<GetClassDevsFn>(m_setupApi.Get(), "SetupDiGetClassDevsA");
        m_enumInterfaces = kelvane::ProcAs<EnumInterfacesFn>(m_setupApi.Get(), "SetupDiEnumDeviceInterfaces");
        m_getInterfaceDetail =
            kelvane::ProcAs<GetInterfaceDetailFn>(m_setupApi.Get(), "SetupDiGetDeviceInterfaceDetailA");
        m_destroyList = kelvane::ProcAs<DestroyListFn>(m_setupApi.Get(), "SetupDiDestroyDeviceInfoList");
        return m_getHidGuid && m_getAttributes && m_getProduct && m_getFeature && m_setFeature && m_getClassDevs &&
               m_enumInterfaces && m_getInterfaceDetail && m_destroyList;
    }

    std::string PathOf(HDEVINFO list, SP_DEVICE_INTERFACE_DATA& item) {
        DWORD needed = 0;
        m_getInterfaceDetail(list, &item, nullptr, 0, &needed, nullptr);
        if (needed < sizeof(DWORD) + 2 || needed > 4096) return {};
        std::vector<DWORD> buffer(needed / sizeof(DWORD) + 1);
        auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(buffer.data());
        // The 32-bit structure's size: a DWORD and one character, unpadded.
        detail->cbSize = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + sizeof(CHAR);
        if (!m_getInterfaceDetail(list, &item, detail, needed, nullptr, nullptr)) return {};
        return std::string(detail->DevicePath, strnlen(detail->DevicePath, needed - sizeof(DWORD)));
    }

    // A relay board's product string and serial, the handle kept open; keyboards,
    // mice and other HID devices come back closed, as INVALID_HANDLE_VALUE.
    HANDLE Inspect(const std::string& path, HidRelayFound& board) {
        const HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) return h;  // keyboards and mice refuse, and are not ours
        HiddAttributes attributes{};
        attributes.Size = sizeof attributes;
        WCHAR product[64] = {};
        if (m_getAttributes(h, &attributes) && attributes.VendorID == kVendor && attributes.ProductID == kProduct &&
            m_getProduct(h, product, sizeof product - sizeof(WCHAR))) {
            for (const WCHAR* c = product; *c && board.product.size() < 16; ++c)
                board.product += *c < 0x80 ? static_cast<char>(*c) : '?';
        }
        // Only a relay board is asked for its status.
        std::uint8_t status[kHidRelayReportSize] = {kStatusReport};
        if (HidRelayCount(board.product) == 0 || !m_getFeature(h, status, sizeof status)) {
            CloseHandle(h);
            return INVALID_HANDLE_VALUE;
        }
        // The board answers in place of the report id: serial in bytes 0-4, relays in byte 7.
        board.where = path;
        board.serial = ParseHidRelayStatus(status, sizeof status).serial;
        return h;
    }

    std::string m_serial;
    std::string m_libraryDir;
    std::string m_name;
    HidRelayPlan m_plan;
    HANDLE m_handle = nullptr;
    kelvane::Library m_hid;
    kelvane::Library m_setupApi;
    GetHidGuidFn m_getHidGuid = nullptr;
    GetAttributesFn m_getAttributes = nullptr;
    FeatureFn m_getProduct = nullptr;
    FeatureFn m_getFeature = nullptr;
    FeatureFn m_setFeature = nullptr;
    GetClassDevsFn m_getClassDevs = nullptr;
    EnumInterfacesFn m_enumInterfaces = nullptr;
    GetInterfaceDetailFn m_getInterfaceDetail = nullptr;
    DestroyListFn m_destroyList = nullptr;
};

}  // namespace

std::unique_ptr<OutputDevice> MakeHidRelayBoard(const Config& config, const std::string& libraryDir) {
    return std::make_unique<HidRelayBoard>(config, libraryDir);
}

}  // namespace korvport
