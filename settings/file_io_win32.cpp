#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <share.h>

#include <cstdint>
#include <cstdio>

#include "settings/file_io.h"

namespace kelvane::fileio {

std::FILE* OpenExclusive(const std::string& path, const char* mode) {
    return ::_fsopen(path.c_str(), mode, _SH_DENYRW);
}

std::FILE* CreateTemporaryBeside(const std::string& target, unsigned /*modeForNewFile*/, std::string& temp) {
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[48];
        std::snprintf(suffix, sizeof suffix, ".tmp-%lx-%lx-%x", GetCurrentProcessId(), GetTickCount(), counter++);
        const std::string name = target + suffix;
        // CREATE_NEW: a name already there, another save's or anything planted, is never opened.
        const HANDLE h =
            CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_FILE_EXISTS) continue;
            return nullptr;
        }
        const int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(h), _O_BINARY | _O_WRONLY);
        std::FILE* file = fd < 0 ? nullptr : _fdopen(fd, "wb");
        if (file == nullptr) {
            if (fd < 0)
                CloseHandle(h);
            else
                _close(fd);
            DeleteFileA(name.c_str());
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        temp = name;
        return file;
    }
    return nullptr;  // the last error is ERROR_FILE_EXISTS
}

bool FlushToDisk(std::FILE* file) { return std::fflush(file) == 0 && ::_commit(::_fileno(file)) == 0; }

// The C runtime's rename refuses an existing target. Write-through: the rename
// is on disk when this returns. A target marked read-only is refused, as
// Windows does; Wine would replace it.
bool ReplaceWith(const std::string& from, const std::string& to) {
    const DWORD attributes = GetFileAttributesA(to.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void RemoveStale(const std::string& path) {
    if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) return;
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path.c_str());
}

bool LastErrorWasNotFound() {
    const DWORD code = GetLastError();
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

std::string LastErrorText() {
    const DWORD code = GetLastError();
    char* text = nullptr;
    const DWORD n =
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string out = n ? std::string(text, n) : "error " + std::to_string(code);
    if (text) LocalFree(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ')) out.pop_back();
    return out;
}

}  // namespace kelvane::fileio
