// parport:/dev/parportN through ppdev: claimed while open, the data lines
// written with PPWDATA, released (lines left as they are) on close.
#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "service/platform/linux/devices/parport.h"
#include "outputs/wire_byte.h"

namespace kelvane::svc {
namespace {

class RealPpdevApi final : public PpdevApi {
public:
    int Open(const char* path, int flags) override { return ::open(path, flags); }
    int Ioctl(int fd, unsigned long request, void* arg) override { return ::ioctl(fd, request, arg); }
    int Close(int fd) override { return ::close(fd); }
};

class Parport final : public outputs::OutputDevice {
public:
    Parport(std::string path, bool invert, PpdevApi& api) : OutputDevice(invert), m_path(std::move(path)), m_api(api) {}

    bool Open(std::string& error) override {
        m_fd = m_api.Open(m_path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
        if (m_fd < 0) {
            error = m_path + ": " + std::strerror(errno);
            return false;
        }
        if (m_api.Ioctl(m_fd, PPCLAIM, nullptr) != 0) {
            error = "PPCLAIM on " + m_path + ": " + std::strerror(errno);
            m_api.Close(m_fd);
            m_fd = -1;
            return false;
        }
        return true;
    }
    bool Write(const OutputEvent& e, std::string& error) override {
        unsigned char wire = outputs::WireByte(e.byte, m_invert);
        if (m_api.Ioctl(m_fd, PPWDATA, &wire) == 0) return true;
        error = "PPWDATA on " + m_path + ": " + std::strerror(errno);
        return false;
    }
    // The data register reads back what the port drives.
    std::optional<std::uint8_t> Holds() override {
        unsigned char wire = 0;
        if (m_api.Ioctl(m_fd, PPRDATA, &wire) != 0) return std::nullopt;
        return outputs::WireByte(wire, m_invert);
    }
    void Close() override {
        if (m_fd < 0) return;
        m_api.Ioctl(m_fd, PPRELEASE, nullptr);
        m_api.Close(m_fd);
        m_fd = -1;
    }

private:
    std::string m_path;
    PpdevApi& m_api;
    int m_fd = -1;
};

}  // namespace

PpdevApi& RealPpdev() {
    static RealPpdevApi api;
    return api;
}

std::unique_ptr<outputs::OutputDevice> MakeParport(const std::string& path, bool invert, PpdevApi& api) {
    return std::make_unique<Parport>(path, invert, api);
}

}  // namespace kelvane::svc
