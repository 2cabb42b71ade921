// journal:PATH: one line per write, for a station without relays, demos and tests.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "service/platform/linux/devices/devices.h"
#include "service/platform/linux/unique_fd.h"
#include "service/station/output.h"

namespace kelvane::svc {
namespace {

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
