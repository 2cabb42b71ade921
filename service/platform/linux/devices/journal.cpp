// journal:PATH: one line per write, for a station without relays, demos and tests.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "service/base/platform.h"
#include "service/platform/linux/devices/devices.h"
#include "service/platform/linux/unique_fd.h"
#include "service/station/output.h"

namespace kelvane::svc {
namespace {

// A journal is read back once, at start: more than years of switches.
constexpr std::size_t kMaxJournal = 16u << 20;

std::int64_t UnixMicros() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

class Journal final : public outputs::OutputDevice {
public:
    Journal(std::string path, bool invert, std::string radio)
        : OutputDevice(invert), m_path(std::move(path)), m_radio(radio.empty() ? "" : "radio=" + radio + " ") {}

    bool Open(std::string& error) override {
        if (m_path.empty()) {
            m_file = stdout;
            return true;
        }
        // Not blocking: opening a FIFO would wait for a reader and stop the poll.
        UniqueFd fd(::open(m_path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0644));
        constexpr char kNoJournal[] = "not a regular file or a terminal; a journal must never make the poll wait";
        if (!fd) {
            error = errno == ENXIO ? kNoJournal : std::strerror(errno);  // ENXIO: a FIFO without a reader
            return false;
        }
        struct stat st {};
        if (::fstat(fd.Get(), &st) != 0 || !(S_ISREG(st.st_mode) || ::isatty(fd.Get()))) {
            error = kNoJournal;
            return false;
        }
        ::fcntl(fd.Get(), F_SETFL, O_APPEND);  // its writes as before: a line is never cut short
        m_file = ::fdopen(fd.Get(), "a");
        if (m_file == nullptr) {
            error = std::strerror(errno);
            return false;
        }
        fd.Release();  // the stream closes it now
        return true;
    }
    // The stand-in for latching relays: the byte of this radio's last line.
    std::optional<std::uint8_t> Holds() override {
        if (m_path.empty()) return std::nullopt;
        std::string bytes, why;
        if (ReadFileBytes(m_path, kMaxJournal, bytes, why) == FileRead::kFailed) return std::nullopt;
        std::optional<std::uint8_t> last = 0;  // an empty journal: nothing written, nothing held
        std::size_t from = 0;
        for (std::size_t end; (end = bytes.find('\n', from)) != std::string::npos; from = end + 1) {
            const std::string_view line(bytes.data() + from, end - from);
            const auto at = line.find(" " + m_radio + "byte=0x");
            if (at == std::string_view::npos) continue;
            unsigned byte = 0;
            const auto hex = line.substr(at + m_radio.size() + 8);
            if (std::from_chars(hex.data(), hex.data() + hex.size(), byte, 16).ec != std::errc{} || byte > 0xFF)
                return std::nullopt;
            last = static_cast<std::uint8_t>(byte);
        }
        return last;
    }
    bool Write(const OutputEvent& e, std::string& error) override {
        const int n = std::fprintf(m_file, "%" PRId64 " %sbyte=%s antenna=%d %s\n", UnixMicros(), m_radio.c_str(),
                                   HexByte(e.byte).c_str(), e.antenna + 1, e.name.c_str());
        if (n < 0 || std::fflush(m_file) != 0) {
            error = std::strerror(errno);
            return false;
        }
        return true;
    }
    void Close() override {
        if (m_file != nullptr && m_file != stdout) std::fclose(m_file);
        m_file = nullptr;
    }

private:
    std::string m_path;
    std::string m_radio;  // "radio=A " or empty
    std::FILE* m_file = nullptr;
};

}  // namespace

std::unique_ptr<outputs::OutputDevice> MakeJournal(const std::string& path, bool invert, const std::string& radio) {
    return std::make_unique<Journal>(path, invert, radio);
}

}  // namespace kelvane::svc
