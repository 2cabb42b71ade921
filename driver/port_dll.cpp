// KorvPortDll.dll: the ten exports the program binds. LoadPortDriver reads
// KorvPortDll.cfg beside this library and picks the backend; every other call
// goes to that backend, or does nothing while none is loaded.

#include <windows.h>

#include <cstdint>
#include <type_traits>

#include "driver/config.h"
#include "driver/port_io.h"
#include "driver/usb_io.h"
#include "win32/locked.h"
#include "win32/module.h"
#include "win32/port_driver_abi.h"

namespace {

HMODULE g_self = nullptr;
CRITICAL_SECTION g_lock;
// A raw pointer on purpose: a static destructor would free inpout32.dll from
// inside the loader lock at process exit. UnloadPortDriver releases it.
korvport::PortIo* g_io = nullptr;

bool IsAbsolute(const std::string& path) {
    return (!path.empty() && (path[0] == '\\' || path[0] == '/')) || (path.size() >= 2 && path[1] == ':');
}

// False when the file exists but cannot be read; a missing file is an empty config.
bool ReadConfig(const std::string& path, korvport::Config& config) {
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    std::string text(korvport::kConfigMaxBytes + 1, '\0');
    DWORD got = 0;
    const BOOL ok = ReadFile(file, text.data(), static_cast<DWORD>(text.size()), &got, nullptr);
    CloseHandle(file);
    if (!ok) return false;
    const bool tooLong = got > korvport::kConfigMaxBytes;
    text.resize(tooLong ? korvport::kConfigMaxBytes : got);
    config = korvport::ParseConfig(text);
    if (tooLong)
        config.problems.push_back("file longer than " + std::to_string(korvport::kConfigMaxBytes) +
                                  " bytes; the rest was ignored");
    return true;
}

void Drop() {
    delete g_io;
    g_io = nullptr;
}

void Write(const char* call, std::uint16_t port, std::uint32_t value, int bytes) {
    kelvane::Locked lock(g_lock);
    if (g_io) g_io->Write(call, port, value, bytes);
}

std::uint32_t Read(const char* call, std::uint16_t port, int bytes) {
    kelvane::Locked lock(g_lock);
    return g_io ? g_io->Read(call, port, bytes) : 0;
}

}  // namespace

extern "C" {

int __stdcall LoadPortDriver(const char* dir) {
    kelvane::Locked lock(g_lock);
    Drop();
    const std::string own = kelvane::ModuleDirectory(g_self);
    korvport::Config config;
    if (!ReadConfig(own + korvport::kConfigFileName, config)) return 0;
    const std::string programDir = dir ? dir : "";
    switch (config.backend) {
    case korvport::Backend::Journal: {
        auto journal =
            korvport::OpenJournal(IsAbsolute(config.journal) ? config.journal : own + config.journal, config.qpc);
        if (!journal) return 0;
        for (const auto& problem : config.problems)
            journal->Note("config", std::string(korvport::kConfigFileName) + " " + problem);
        journal->Note("LoadPortDriver", "backend=journal dir=" + programDir);
        g_io = journal.release();
        return 1;
    }
    case korvport::Backend::Hardware:
        // A misread line refuses the load, so the program warns; the status log says which line.
        if (!config.problems.empty()) break;
        g_io = korvport::OpenHardware(programDir).release();
        return g_io ? 1 : 0;
    case korvport::Backend::Ftdi:
    case korvport::Backend::HidRelay:
        // Valid is enough: the board is looked for on each write, at most once a second.
        // Its library is looked for beside this one, not in the caller's `dir`:
        // our own path is absolute whatever a caller passes.
        if (!config.problems.empty()) break;
        g_io = korvport::OpenUsb(config, own, own + korvport::kStatusLogName).release();
        return g_io ? 1 : 0;
    case korvport::Backend::Unknown:
        break;
    }
    for (const auto& problem : config.problems)
        korvport::AppendStatus(own + korvport::kStatusLogName,
                               std::string("config error: ") + korvport::kConfigFileName + " " + problem);
    return 0;
}

int __stdcall IsPortDriverLoaded() {
    kelvane::Locked lock(g_lock);
    if (!g_io) return 0;
    g_io->Note("IsPortDriverLoaded", "loaded=1");
    return 1;
}

void __stdcall UnloadPortDriver() {
    kelvane::Locked lock(g_lock);
    if (g_io) g_io->Note("UnloadPortDriver", {});
    Drop();
}

void __stdcall DriverOutPB(unsigned short port, unsigned char value) { Write("DriverOutPB", port, value, 1); }
void __stdcall DriverOutPW(unsigned short port, unsigned short value) { Write("DriverOutPW", port, value, 2); }
void __stdcall DriverOutPD(unsigned short port, unsigned long value) { Write("DriverOutPD", port, value, 4); }

unsigned char __stdcall DriverInPB(unsigned short port) {
    return static_cast<unsigned char>(Read("DriverInPB", port, 1));
}
unsigned short __stdcall DriverInPW(unsigned short port) {
    return static_cast<unsigned short>(Read("DriverInPW", port, 2));
}
unsigned long __stdcall DriverInPD(unsigned short port) { return Read("DriverInPD", port, 4); }

void __stdcall DriverBeep(unsigned long hz, unsigned long ms) {
    kelvane::Locked lock(g_lock);
    if (g_io) g_io->Beep(hz, ms);
}

}  // extern "C"

// The three calls the program makes must match the signatures it casts to.
static_assert(std::is_same_v<decltype(&LoadPortDriver), kelvane::LoadPortDriverFn>);
static_assert(std::is_same_v<decltype(&UnloadPortDriver), kelvane::UnloadPortDriverFn>);
static_assert(std::is_same_v<decltype(&DriverOutPB), kelvane::DriverOutPBFn>);

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_self = instance;
        InitializeCriticalSection(&g_lock);
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH) {
        DeleteCriticalSection(&g_lock);
    }
    return TRUE;
}
