// The journal backend: no hardware, one line per call, so a demo or a test can
// watch every byte the program sends.

#include <cstdio>

#include "driver/port_io.h"
#include "win32/qpc_clock.h"

namespace korvport {
namespace {

std::string Hex(std::uint32_t value, int digits) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%0*lX", digits, static_cast<unsigned long>(value));
    return buf;
}

class JournalIo final : public PortIo {
public:
    JournalIo(HANDLE file, bool qpc) : m_file(file), m_qpc(qpc) {}
    ~JournalIo() override { CloseHandle(m_file); }

    void Write(const char* call, std::uint16_t port, std::uint32_t value, int bytes) override {
        Append(call, Hex(port, 4), Hex(value, 2 * bytes), {});
    }
    std::uint32_t Read(const char* call, std::uint16_t port, int bytes) override {
        // What a port with nothing behind it reads: all ones.
        const std::uint32_t value = bytes == 4 ? 0xFFFFFFFFu : (1u << (8 * bytes)) - 1;
        Append(call, Hex(port, 4), Hex(value, 2 * bytes), {});
        return value;
    }
    void Beep(std::uint32_t hz, std::uint32_t ms) override {
        Append("DriverBeep", "-", "-", "hz=" + std::to_string(hz) + " ms=" + std::to_string(ms));
    }
    void Note(const char* call, const std::string& text) override { Append(call, "-", "-", text); }

private:
    void Append(const char* call, const std::string& port, const std::string& value, const std::string& note) {
        SYSTEMTIME now;
        GetLocalTime(&now);
        const unsigned long long counter = m_qpc ? kelvane::QpcMicroseconds() : 0;
        std::string line = JournalLine(now, call, port.c_str(), value.c_str(), note);
        if (m_qpc) line += " qpc=" + std::to_string(counter);
        line += '\n';
        // One unbuffered write per line: a reader tailing the file sees it at once.
        // A failed write (full disk, file gone) loses the line and nothing else.
        DWORD written = 0;
        WriteFile(m_file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    }

    HANDLE m_file;
    bool m_qpc;
};

}  // namespace

std::string TimeStamp(const SYSTEMTIME& t) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02uT%02u:%02u:%02u.%03u", t.wYear, t.wMonth, t.wDay, t.wHour,
                  t.wMinute, t.wSecond, t.wMilliseconds);
    return stamp;
}

std::string JournalLine(const SYSTEMTIME& t, const char* call, const char* port, const char* value,
                        const std::string& note) {
    std::string line = TimeStamp(t) + ' ' + call + ' ' + port + ' ' + value;
    if (!note.empty()) line += ' ' + note;
    return line;
}

std::unique_ptr<PortIo> OpenJournal(const std::string& path, bool qpc) {
    // Append-only access makes every write land at the current end, even when
    // another process appends to the same journal.
    const HANDLE file =
        CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    // A pipe or a device could block a write for ever; only a disk file is safe.
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        return nullptr;
    }
    return std::make_unique<JournalIo>(file, qpc);
}

}  // namespace korvport
