#pragma once
// What the exports reach once LoadPortDriver has chosen a backend.

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

namespace korvport {

class PortIo {
public:
    virtual ~PortIo() = default;
    // `bytes` is 1, 2 or 4; `call` is the export that asked, for the journal.
    virtual void Write(const char* call, std::uint16_t port, std::uint32_t value, int bytes) = 0;
    virtual std::uint32_t Read(const char* call, std::uint16_t port, int bytes) = 0;
    virtual void Beep(std::uint32_t hz, std::uint32_t ms) = 0;
    // A call that touches no port (load, query, unload) or a remark about the config.
    virtual void Note(const char* call, const std::string& text) = 0;
};

// Null when the journal file cannot be opened as an ordinary file. With `qpc`
// every line ends in " qpc=<microseconds>" (win32/qpc_clock.h).
std::unique_ptr<PortIo> OpenJournal(const std::string& path, bool qpc);
// Null unless `dir` holds an inpout32.dll with Out32 and Inp32.
std::unique_ptr<PortIo> OpenHardware(const std::string& dir);

// The local time as both logs beside the library stamp their lines.
std::string TimeStamp(const SYSTEMTIME& t);
// One journal line, without its newline.
std::string JournalLine(const SYSTEMTIME& t, const char* call, const char* port, const char* value,
                        const std::string& note);

}  // namespace korvport
