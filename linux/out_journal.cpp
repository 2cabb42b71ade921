// journal:PATH: one line per write, for a station without relays, demos and tests.
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "linux/devices.h"
#include "outputs/wire_byte.h"

namespace kelvane::svc {
namespace {

std::int64_t UnixMicros() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

class Journal final : public OutputDevice {
public:
    Journal(std::string path, bool invert) : m_path(std::move(path)), m_invert(invert) {}

    bool Open(std::string& error) override {
        m_file = m_path.empty() ? stdout : std::fopen(m_path.c_str(), "a");
        if (m_file == nullptr) error = std::strerror(errno);
        return m_file != nullptr;
    }
    bool Write(const OutputEvent& e, std::string& error) override {
        const int n = std::fprintf(m_file, "%" PRId64 " byte=0x%02X antenna=%d %s\n", UnixMicros(),
                                   outputs::WireByte(e.byte, m_invert), e.antenna + 1, e.name.c_str());
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
    bool m_invert;
    std::FILE* m_file = nullptr;
};

}  // namespace

std::unique_ptr<OutputDevice> MakeJournal(const std::string& path, bool invert) {
    return std::make_unique<Journal>(path, invert);
}

}  // namespace kelvane::svc
