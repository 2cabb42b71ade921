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
    Journal(std::string path, bool invert) : path_(std::move(path)), invert_(invert) {}

    bool Open(std::string& error) override {
        file_ = path_.empty() ? stdout : std::fopen(path_.c_str(), "a");
        if (file_ == nullptr) error = std::strerror(errno);
        return file_ != nullptr;
    }
    bool Write(const OutputEvent& e, std::string& error) override {
        const int n = std::fprintf(file_, "%" PRId64 " byte=0x%02X antenna=%d %s\n", UnixMicros(),
                                   outputs::WireByte(e.byte, invert_), e.antenna + 1, e.name.c_str());
        if (n < 0 || std::fflush(file_) != 0) {
            error = std::strerror(errno);
            return false;
        }
        return true;
    }
    void Close() override {
        if (file_ != nullptr && file_ != stdout) std::fclose(file_);
        file_ = nullptr;
    }

private:
    std::string path_;
    bool invert_;
    std::FILE* file_ = nullptr;
};

}  // namespace

std::unique_ptr<OutputDevice> MakeJournal(const std::string& path, bool invert) {
    return std::make_unique<Journal>(path, invert);
}

}  // namespace kelvane::svc
