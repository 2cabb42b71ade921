#pragma once
// What the Linux tests share: a real rigctld on a free loopback port, a client
// to set its frequency and transmit state, a recording output, and waiting on
// observable state with a deadline.

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "service/base/log.h"
#include "service/station/output.h"
#include "service/config/station_file.h"

namespace kelvane::svc::test {

using namespace std::chrono_literals;

// The port is free when asked; nothing else on this machine races for loopback ports.
inline int FreePort(int type = SOCK_STREAM) {
    const int fd = ::socket(AF_INET, type, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

inline std::uint16_t FreeUdpPort() { return static_cast<std::uint16_t>(FreePort(SOCK_DGRAM)); }

// Sends datagrams to 127.0.0.1 only.
struct Loopback {
    Loopback() : fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}
    ~Loopback() { ::close(fd); }
    void Send(int port, const std::string& datagram) const {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<std::uint16_t>(port));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
    int fd;
};

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

inline std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs `step` and checks `done` until it holds or `limit` passes.
inline bool Eventually(
    const std::function<bool()>& done, const std::function<void()>& step = [] {},
    std::chrono::milliseconds limit = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        step();
        if (done()) return true;
        ::usleep(5000);  // pacing the retries, not waiting for something to happen
    }
    return done();
}

// Starts the built program with `args`, standard output and error to files.
// posix_spawn, so that test threads may start it at once.
inline pid_t SpawnKelvane(const std::vector<std::string>& args, const std::string& out, const std::string& err) {
    std::vector<char*> argv{const_cast<char*>(KELVANE_PROGRAM)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&files, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    if (::posix_spawn(&pid, KELVANE_PROGRAM, &files, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&files);
    return pid;
}

// The exit status, or 128 + the signal that ended it.
inline int WaitExit(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// rigctld -m 1 (the dummy rig), killed with its object.
class Rigctld {
public:
    explicit Rigctld(int port, bool transmitState = true) : m_port(port), m_tx(transmitState) { Start(); }
    ~Rigctld() { Kill(); }

    void Start() {
        m_pid = ::fork();
        if (m_pid == 0) {
            const std::string p = std::to_string(m_port);
            std::vector<const char*> argv{"rigctld", "-m", "1", "-T", "127.0.0.1", "-t", p.c_str()};
            if (m_tx) argv.insert(argv.end(), {"-P", "RIG"});
            argv.push_back(nullptr);
            ::execvp("rigctld", const_cast<char* const*>(argv.data()));
            ::_exit(127);
        }
        // Ready once it answers, not merely once it listens.
        Eventually([this] {
            const std::string f = Ask("f");
            return !f.empty() && f.find_first_not_of("0123456789") == std::string::npos;
        });
    }
    // SIGSTOP returns once every thread of rigctld has stopped: a thread still
    // running could answer one more command.
    void Signal(int sig) {
        ::kill(m_pid, sig);
        if (sig == SIGSTOP) Eventually([this] { return AllThreadsStopped(); });
    }
    void Kill() {
        if (m_pid <= 0) return;
        ::kill(m_pid, SIGCONT);
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
    // One command on a connection of its own; the reply line. rigctld resets
    // about one short connection in a hundred before answering: asked again then.
    std::string Ask(const std::string& command) const {
        std::string reply;
        for (int attempt = 0; attempt < 5 && reply.empty(); ++attempt) {
            const int fd = Dial(m_port);
            if (fd < 0) return "no connection";
            const std::string line = command + "\n";
            (void)!::write(fd, line.data(), line.size());
            char c;
            while (::read(fd, &c, 1) == 1 && c != '\n') reply.push_back(c);
            ::close(fd);
        }
        return reply;
    }
    int port() const { return m_port; }

private:
    bool AllThreadsStopped() const {
        const std::string tasks = "/proc/" + std::to_string(m_pid) + "/task";
        DIR* dir = ::opendir(tasks.c_str());
        if (dir == nullptr) return false;
        bool stopped = true;
        while (const dirent* e = ::readdir(dir)) {
            if (e->d_name[0] == '.') continue;
            std::ifstream stat(tasks + "/" + e->d_name + "/stat");
            std::string line;
            std::getline(stat, line);
            const auto paren = line.rfind(')');
            stopped = stopped && paren != std::string::npos && paren + 2 < line.size() && line[paren + 2] == 'T';
        }
        ::closedir(dir);
        return stopped;
    }

    int m_port;
    bool m_tx;
    pid_t m_pid = -1;
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

// An output device that records what reaches it; absent while `*present` is false.
class Recorder : public OutputDevice {
public:
    explicit Recorder(std::vector<OutputEvent>& writes, const bool* present = nullptr)
        : m_writes(writes), m_present(present) {}
    bool Open(std::string&) override { return !m_present || *m_present; }
    bool Write(const OutputEvent& e, std::string&) override {
        if (m_present && !*m_present) return false;
        m_writes.push_back(e);
        return true;
    }
    void Close() override {}
    // It knows what it holds: the last write, or nothing.
    std::optional<std::uint8_t> Holds() override { return m_writes.empty() ? 0 : m_writes.back().byte; }

private:
    std::vector<OutputEvent>& m_writes;
    const bool* m_present;
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
