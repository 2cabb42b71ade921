#pragma once
// What the Linux tests share: a real rigctld on a free loopback port, a client
// to set its frequency and transmit state, a recording output, and waiting on
// observable state with a deadline.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "linux/band_rules.h"
#include "linux/log.h"
#include "linux/output.h"

namespace kelvane::svc::test {

using namespace std::chrono_literals;

// The port is free when asked; nothing else on this machine races for loopback ports.
inline int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

// Connects to 127.0.0.1:port; -1 when nothing listens.
inline int Dial(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return fd;
    ::close(fd);
    return -1;
}

// Runs `step` and checks `done` until it holds or `limit` passes.
inline bool Eventually(const std::function<bool()>& done, const std::function<void()>& step = [] {},
                       std::chrono::milliseconds limit = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        step();
        if (done()) return true;
        ::usleep(5000);  // pacing the retries, not waiting for something to happen
    }
    return done();
}

// rigctld -m 1 (the dummy rig), killed with its object.
class Rigctld {
public:
    explicit Rigctld(int port, bool transmitState = true) : port_(port), tx_(transmitState) { Start(); }
    ~Rigctld() { Kill(); }

    void Start() {
        pid_ = ::fork();
        if (pid_ == 0) {
            const std::string p = std::to_string(port_);
            std::vector<const char*> argv{"rigctld", "-m", "1", "-T", "127.0.0.1", "-t", p.c_str()};
            if (tx_) argv.insert(argv.end(), {"-P", "RIG"});
            argv.push_back(nullptr);
            ::execvp("rigctld", const_cast<char* const*>(argv.data()));
            ::_exit(127);
        }
        Eventually([this] {
            const int fd = Dial(port_);
            if (fd >= 0) ::close(fd);
            return fd >= 0;
        });
    }
    void Signal(int sig) { ::kill(pid_, sig); }
    void Kill() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGCONT);
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    // One command on a connection of its own; the reply line.
    std::string Ask(const std::string& command) const {
        const int fd = Dial(port_);
        if (fd < 0) return "no connection";
        const std::string line = command + "\n";
        (void)!::write(fd, line.data(), line.size());
        std::string reply;
        char c;
        while (::read(fd, &c, 1) == 1 && c != '\n') reply.push_back(c);
        ::close(fd);
        return reply;
    }
    int port() const { return port_; }

private:
    int port_;
    bool tx_;
    pid_t pid_ = -1;
};

// Band i goes to antenna i, whose byte is i + 1: every band change shows.
inline Station DemoStation() {
    Station s;
    for (int i = 0; i < kBandCount; ++i) {
        const auto k = static_cast<std::size_t>(i);
        s.tables.m_bandAntenna[k] = i;
        s.tables.m_antValue[k] = static_cast<std::uint32_t>(i + 1);
        s.tables.m_antName[k] = s.bands.name[k] + " antenna";
    }
    return s;
}

// An output device that records what reaches it.
class Recorder : public OutputDevice {
public:
    explicit Recorder(std::vector<OutputEvent>& writes) : writes_(writes) {}
    bool Open(std::string&) override { return true; }
    bool Write(const OutputEvent& e, std::string&) override {
        writes_.push_back(e);
        return true;
    }
    void Close() override {}

private:
    std::vector<OutputEvent>& writes_;
};

// Collects log lines.
struct LogLines {
    std::vector<std::string> lines;
    Log log{[this](int, const std::string& line) { lines.push_back(line); }};
    bool Has(const std::string& part) const {
        for (const auto& l : lines)
            if (l.find(part) != std::string::npos) return true;
        return false;
    }
};

}  // namespace kelvane::svc::test
