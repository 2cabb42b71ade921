#include "win32/module.h"

namespace kelvane {

std::string DirectoryOf(std::string_view path) {
    const auto sep = path.find_last_of("\\/");
    return sep == std::string_view::npos ? std::string() : std::string(path.substr(0, sep + 1));
}

std::string ModuleDirectory(HMODULE module) {
    // The module's own path, not argv[0] or the current directory: started by
    // its bare name elsewhere, the program must still find what lies beside it.
    std::string path(MAX_PATH, '\0');
    for (;;) {
        const DWORD n = GetModuleFileNameA(module, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            return DirectoryOf(path);
        }
        if (path.size() >= 32768) return {};  // longer than any Windows path
        path.resize(path.size() * 2);
    }
}

HMODULE LoadLibraryQuietly(const std::string& path) {
    const UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    const HMODULE module = LoadLibraryA(path.c_str());
    SetErrorMode(oldMode);
    return module;
}

HMODULE LoadLibraryBesideOrSystem(const std::string& dir, const char* name) {
    if (!dir.empty())
        if (const HMODULE module = LoadLibraryQuietly(dir + name)) return module;
    char system[MAX_PATH];
    const UINT n = GetSystemDirectoryA(system, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return nullptr;
    return LoadLibraryQuietly(std::string(system, n) + '\\' + name);
}

}  // namespace kelvane
