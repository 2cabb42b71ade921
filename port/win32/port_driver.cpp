#include "port/win32/port_driver.h"

#include "port/win32/port_driver_detail.h"
#include "win32/module.h"

namespace kelvane {

const char kPortDriverFailureMessage[] =
    "Korvel port driver cannot be loaded!\n"
    "\n"
    "Windows 2000/XP:\n"
    "\n"
    "1) Copy KorvPortDriver.sys file to your \\WINNT\\system32\\drivers directory\n"
    "2) Run KorvPortDriver.reg file\n"
    "3) Reboot the machine";

PortDriverBinding g_portDriver;

void PortDriverBinding::DriverOutPB(std::uint16_t port, std::uint8_t value) const {
    const auto out = Slot<DriverOutPBFn>(kDriverOutPB);
    if (handle && out) out(port, value);
}

namespace detail {

bool DetectPlatform(GetVersionExAFn getVersion) {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    return getVersion(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

}  // namespace detail

bool DetectPlatform() { return detail::DetectPlatform(&GetVersionExA); }

void OutPortByte(std::uint16_t port, std::uint8_t value) {
    // Faults with a privileged-instruction exception on the NT family; the
    // platform decision keeps it to the 9x family.
    __asm__ __volatile__("outb %0, %1" : : "a"(value), "Nd"(port));
}

bool BindPortDriver(PortDriverBinding& binding, const std::string& dir) {
    if (dir.empty()) return false;
    // A broken library must not add a system error box to our own message.
    binding.handle.Reset(LoadLibraryQuietly(dir + kPortDriverLibraryName));
    const HMODULE module = binding.handle.Get();
    if (!module) return false;
    for (int s = 0; s < kPortDriverSlotCount; ++s)
        binding.slots[s] = ProcAs<AnyProc>(module, kPortDriverExportNames[s]);
    const auto load = binding.Slot<LoadPortDriverFn>(kLoadPortDriver);
    // On failure the binding stays: DriverOutPB may still work, and the unbind still runs.
    return load && load(dir.c_str()) != 0;
}

bool BindPortDriver(PortDriverBinding& binding) { return BindPortDriver(binding, GetProgramDir()); }

bool UnbindPortDriver(PortDriverBinding& binding) {
    if (!binding.handle) return false;
    // The library's own unload goes first: it may still need its code.
    if (const auto unload = binding.Slot<UnloadPortDriverFn>(kUnloadPortDriver)) unload();
    binding.handle.Reset();
    binding.slots = {};
    return true;
}

void ShowPortDriverFailure() { MessageBoxA(nullptr, kPortDriverFailureMessage, "Kelvane", MB_OK); }

const PortPlatform kSystemPortPlatform = {
    &g_portDriver,
    &OutPortByte,
    [] { return DetectPlatform(); },
    [] { return BindPortDriver(g_portDriver); },
    [] { UnbindPortDriver(g_portDriver); },
    &ShowPortDriverFailure,
};

}  // namespace kelvane
