#include "port/win32/port_driver.h"

#include <windows.h>

#include "port/win32/port_driver_detail.h"

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

namespace detail {

int DetectPlatform(GetVersionExAFn getVersion) {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    return getVersion(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT ? 1 : 0;
}

}  // namespace detail

int DetectPlatform() { return detail::DetectPlatform(&GetVersionExA); }

void OutPortByte(std::uint16_t port, std::uint8_t value) {
    // Faults with a privileged-instruction exception on the NT family; the
    // platform decision keeps it to the 9x family.
    __asm__ __volatile__("outb %0, %1" : : "a"(value), "Nd"(port));
}

std::string DirectoryOf(std::string_view path) {
    const auto sep = path.find_last_of("\\/");
    return sep == std::string_view::npos ? std::string() : std::string(path.substr(0, sep + 1));
}

std::string GetProgramDir() {
    // The module's own path, not argv[0] or the current directory: started by
    // its bare name elsewhere, the program must still find what lies beside it.
    std::string path(MAX_PATH, '\0');
    for (;;) {
        const DWORD n = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            return DirectoryOf(path);
        }
        if (path.size() >= 32768) return {};  // longer than any Windows path
        path.resize(path.size() * 2);
    }
}

int BindPortDriver(PortDriverBinding& binding, const std::string& dir) {
    if (dir.empty()) return 0;
    const std::string file = dir + kPortDriverLibraryName;
    // A broken library must not add a system error box to our own message.
    const UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    const HMODULE module = LoadLibraryA(file.c_str());
    SetErrorMode(oldMode);
    binding.handle = module;
    if (!module) return 0;
    for (int s = 0; s < kPortDriverSlotCount; ++s)
        binding.slots[s] = reinterpret_cast<AnyProc>(GetProcAddress(module, kPortDriverExportNames[s]));
    const auto load = binding.Slot<LoadPortDriverFn>(kLoadPortDriver);
    // On failure the binding stays: DriverOutPB may still work, and the unbind still runs.
    return load ? load(dir.c_str()) : 0;
}

int BindPortDriver(PortDriverBinding& binding) { return BindPortDriver(binding, GetProgramDir()); }

int UnbindPortDriver(PortDriverBinding& binding) {
    if (!binding.handle) return 0;
    if (const auto unload = binding.Slot<UnloadPortDriverFn>(kUnloadPortDriver)) unload();
    FreeLibrary(static_cast<HMODULE>(binding.handle));
    binding = PortDriverBinding{};
    return 1;
}

void ShowPortDriverFailure() { MessageBoxA(nullptr, kPortDriverFailureMessage, "Kelvane", MB_OK); }

}  // namespace kelvane
