// The service's wait on Linux: the operator's signals through a signalfd, the
// console's wake through an eventfd, and poll(2) over them and the sources.
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "service/base/platform.h"
#include "service/platform/linux/unique_fd.h"

namespace kelvane::svc {

struct OperatorRequests::Impl {
    UniqueFd fd;
};

OperatorRequests::OperatorRequests() : m_impl(std::make_unique<Impl>()) {}
OperatorRequests::~OperatorRequests() = default;

bool OperatorRequests::Start(std::string& error) {
    sigset_t signals;
    sigemptyset(&signals);
    for (const int s : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&signals, s);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    // A journal on a closed pipe is an output lost, not the end of the program.
    signal(SIGPIPE, SIG_IGN);
    const int fd = ::signalfd(-1, &signals, SFD_CLOEXEC);
    if (fd < 0) {
        error = std::string("signalfd: ") + std::strerror(errno);
        return false;
    }
    m_impl->fd.Reset(fd);
    return true;
}

Handle OperatorRequests::Ready() const { return m_impl->fd.Get(); }

OperatorRequests::Request OperatorRequests::Take() {
    signalfd_siginfo info{};
    if (::read(m_impl->fd.Get(), &info, sizeof info) != static_cast<ssize_t>(sizeof info)) return {};
    if (info.ssi_signo == SIGHUP) return {Request::kReload, "SIGHUP"};
    return {Request::kStop, info.ssi_signo == SIGTERM ? "SIGTERM" : "SIGINT"};
}

struct Wake::Impl {
    UniqueFd fd;
};

Wake::Wake() : m_impl(std::make_unique<Impl>()) {}
Wake::~Wake() = default;

bool Wake::Open(std::string& error) {
    const int fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd < 0) {
        error = std::string("eventfd: ") + std::strerror(errno);
        return false;
    }
    m_impl->fd.Reset(fd);
    return true;
}

void Wake::Signal() {
    if (!m_impl->fd) return;
    const std::uint64_t one = 1;
    // Only fails when the counter is full, and then the waiting thread is awake anyway.
    [[maybe_unused]] const auto n = ::write(m_impl->fd.Get(), &one, sizeof one);
}

void Wake::Clear() {
    std::uint64_t count = 0;
    [[maybe_unused]] const auto n = ::read(m_impl->fd.Get(), &count, sizeof count);
}

Handle Wake::Ready() const { return m_impl->fd.Get(); }

bool WaitReadable(const std::vector<Handle>& handles, std::chrono::steady_clock::time_point deadline,
                  std::vector<bool>& readable) {
    readable.assign(handles.size(), false);
    std::vector<pollfd> fds;
    for (const Handle h : handles) fds.push_back({h, POLLIN, 0});
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    // poll(2) skips a negative descriptor and leaves its revents 0.
    const int n = ::poll(fds.data(), fds.size(), static_cast<int>(left > 0 ? left : 0));
    if (n <= 0) return false;
    for (std::size_t i = 0; i < fds.size(); ++i) readable[i] = fds[i].fd >= 0 && (fds[i].revents & POLLIN) != 0;
    return true;
}

}  // namespace kelvane::svc
