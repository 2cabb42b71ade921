// parport:/dev/parportN through ppdev: claimed while open, the data lines
// written with PPWDATA, released (lines left as they are) on close.
#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>

#include "linux/devices.h"
#include "outputs/wire_byte.h"

namespace kelvane::svc {
namespace {

class Parport final : public OutputDevice {
public:
    Parport(std::string path, bool invert, PpdevApi& api) : path_(std::move(path)), invert_(invert), api_(api) {}

    bool Open(std::string& error) override {
        fd_ = api_.Open(path_.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
        if (fd_ < 0) {
            error = path_ + ": " + std::strerror(errno);
            return false;
        }
        if (api_.Ioctl(fd_, PPCLAIM, nullptr) != 0) {
            error = "PPCLAIM on " + path_ + ": " + std::strerror(errno);
            api_.Close(fd_);
            fd_ = -1;
            return false;
        }
        return true;
    }
    bool Write(const OutputEvent& e, std::string& error) override {
        unsigned char wire = outputs::WireByte(e.byte, invert_);
        if (api_.Ioctl(fd_, PPWDATA, &wire) == 0) return true;
        error = "PPWDATA on " + path_ + ": " + std::strerror(errno);
        return false;
    }
    void Close() override {
        if (fd_ < 0) return;
        api_.Ioctl(fd_, PPRELEASE, nullptr);
        api_.Close(fd_);
        fd_ = -1;
    }

private:
    std::string path_;
    bool invert_;
    PpdevApi& api_;
    int fd_ = -1;
};

}  // namespace

std::unique_ptr<OutputDevice> MakeParport(const std::string& path, bool invert, PpdevApi& api) {
    return std::make_unique<Parport>(path, invert, api);
}

}  // namespace kelvane::svc
