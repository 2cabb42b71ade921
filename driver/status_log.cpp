// The status log: rare lines (state changes), so each one opens, checks the
// size and closes; only a full file is read back and rewritten shorter.

#include "driver/usb_io.h"

namespace korvport {
namespace {

bool WriteAll(HANDLE file, const std::string& text) {
    DWORD written = 0;
    return WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) && written == text.size();
}

}  // namespace

void AppendStatus(const std::string& path, const std::string& text) {
    SYSTEMTIME t;
    GetLocalTime(&t);
    const std::string line = TimeStamp(t) + ' ' + text;

    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    // Only a disk file: a device named here could block the program's timer.
    DWORD high = 0;
    const DWORD size = GetFileType(file) == FILE_TYPE_DISK ? GetFileSize(file, &high) : INVALID_FILE_SIZE;
    if (size == INVALID_FILE_SIZE || high != 0) {
        CloseHandle(file);
        return;
    }
    if (size + line.size() + 1 <= kStatusLogMax) {
        SetFilePointer(file, 0, nullptr, FILE_END);
        WriteAll(file, line + '\n');
    } else {
        // A file made long by someone else is read from its last limit's worth only.
        const DWORD from = size > kStatusLogMax ? size - static_cast<DWORD>(kStatusLogMax) : 0;
        std::string old(size - from, '\0');
        DWORD got = 0;
        SetFilePointer(file, static_cast<LONG>(from), nullptr, FILE_BEGIN);
        if (ReadFile(file, old.data(), size - from, &got, nullptr)) {
            old.resize(got);
            SetFilePointer(file, 0, nullptr, FILE_BEGIN);
            if (WriteAll(file, WithStatusLine(std::move(old), line))) SetEndOfFile(file);
        }
    }
    CloseHandle(file);
}

}  // namespace korvport
