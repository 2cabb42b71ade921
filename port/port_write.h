#pragma once
// The port-write route shared by every build: which byte goes to which port,
// and whether it goes through the port-driver library or straight out.

#include <array>
#include <cstdint>

#if defined(_WIN32)
#define KV_STDCALL __stdcall
#else
#define KV_STDCALL
#endif

namespace kelvane {

// The library's entry points, in slot order; the names are its export names.
enum PortDriverSlot {
    kLoadPortDriver,
    kIsPortDriverLoaded,
    kUnloadPortDriver,
    kDriverOutPB,
    kDriverOutPW,
    kDriverOutPD,
    kDriverInPB,
    kDriverInPW,
    kDriverInPD,
    kDriverBeep,
    kPortDriverSlotCount
};
inline constexpr std::array<const char*, kPortDriverSlotCount> kPortDriverExportNames = {
    "LoadPortDriver", "IsPortDriverLoaded", "UnloadPortDriver", "DriverOutPB", "DriverOutPW",
    "DriverOutPD",    "DriverInPB",         "DriverInPW",       "DriverInPD",  "DriverBeep"};

using LoadPortDriverFn = int(KV_STDCALL*)(const char* dir);
using UnloadPortDriverFn = void(KV_STDCALL*)();
using DriverOutPBFn = void(KV_STDCALL*)(std::uint16_t port, std::uint8_t value);
// Slots are stored untyped; each caller casts to the signature it relies on.
using AnyProc = void (*)();

// Null everywhere at start and after unbinding; any slot may stay null.
struct PortDriverBinding {
    void* handle = nullptr;
    std::array<AnyProc, kPortDriverSlotCount> slots{};

    template <typename Fn>
    Fn Slot(PortDriverSlot s) const {
        return reinterpret_cast<Fn>(slots[s]);
    }
};

// The byte-output instruction of the 9x family; tests and non-x86 builds replace it.
using PortOutByteFn = void (*)(std::uint16_t port, std::uint8_t value);

class PortWriter {
public:
    PortWriter(PortDriverBinding& binding, PortOutByteFn outByte) : binding_(binding), outByte_(outByte) {}

    int m_bNT = 0;  // set once at start from the platform

    // Low byte of the antenna value to the low 16 bits of the port address. On
    // the NT family the write goes to DriverOutPB when bound, else nowhere.
    void WritePortByte(std::int32_t portAddr, std::uint32_t antValue) const;

private:
    PortDriverBinding& binding_;
    PortOutByteFn outByte_;
};

}  // namespace kelvane
