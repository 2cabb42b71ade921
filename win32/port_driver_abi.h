#pragma once
// The port-driver library's binary interface, shared by the program's side
// (port/win32) and the library itself (driver/): its exports in slot order,
// their names and calling convention, and the slots a program binds them to.

#include <windows.h>

#include <array>
#include <cstdint>

#include "win32/module.h"

namespace kelvane {

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

inline constexpr char kPortDriverLibraryName[] = "KorvPortDll.dll";

using LoadPortDriverFn = int(__stdcall*)(const char* dir);
using UnloadPortDriverFn = void(__stdcall*)();
using DriverOutPBFn = void(__stdcall*)(std::uint16_t port, std::uint8_t value);
// Slots are stored untyped; each caller casts to the signature it relies on.
using AnyProc = void (*)();

// The loaded library and its exports; null everywhere at start and after
// unbinding, and any slot may stay null.
struct PortDriverSlots {
    Library handle;
    std::array<AnyProc, kPortDriverSlotCount> slots{};

    template <typename Fn>
    Fn Slot(PortDriverSlot s) const {
        return reinterpret_cast<Fn>(slots[s]);
    }
};

}  // namespace kelvane
