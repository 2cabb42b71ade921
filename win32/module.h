#pragma once
// What the program, the port-driver library and the tools share on Windows:
// where a module lies and loading a library beside it.

#include <windows.h>

#include <string>
#include <string_view>

namespace kelvane {

// Drive and directory of `path`, up to and including its last '\' or '/'; "" without one.
std::string DirectoryOf(std::string_view path);
// Directory of `module` (null: the running program), ending in its separator, or "".
std::string ModuleDirectory(HMODULE module = nullptr);
inline std::string GetProgramDir() { return ModuleDirectory(nullptr); }

// LoadLibrary by full path without the system's error box for a broken file:
// the caller has its own message, or none.
HMODULE LoadLibraryQuietly(const std::string& path);
// `name` from `dir` (as ModuleDirectory gives it; "" skips it), else from the
// system directory: never by bare name, whose search reaches the current directory.
HMODULE LoadLibraryBesideOrSystem(const std::string& dir, const char* name);

// GetProcAddress's result as the signature the caller relies on.
template <typename Fn>
Fn ProcAs(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// Owns one loaded library and frees it on destruction.
class Library {
public:
    Library() = default;
    explicit Library(HMODULE module) : m_module(module) {}
    Library(Library&& other) noexcept : m_module(other.Release()) {}
    Library& operator=(Library&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    ~Library() { Reset(); }

    HMODULE Get() const { return m_module; }
    explicit operator bool() const { return m_module != nullptr; }
    HMODULE Release() {
        const HMODULE held = m_module;
        m_module = nullptr;
        return held;
    }
    void Reset(HMODULE module = nullptr) {
        if (m_module) FreeLibrary(m_module);
        m_module = module;
    }
    template <typename Fn>
    Fn Proc(const char* name) const {
        return ProcAs<Fn>(m_module, name);
    }

private:
    HMODULE m_module = nullptr;
};

}  // namespace kelvane
