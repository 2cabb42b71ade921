// The sources' sockets on Linux: non-blocking, with poll for every wait.
#include "service/base/net.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "service/platform/linux/name_lookup.h"
#include "service/platform/linux/unique_fd.h"

namespace kelvane::svc {
namespace {

int MillisLeft(Deadline deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, left.count()));
}

// Waits for `events` on `fd` until `deadline`; false on timeout.
bool WaitFor(int fd, short events, Deadline deadline) {
    for (;;) {
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, MillisLeft(deadline));
        if (n > 0) return true;
        if (n == 0) return false;
        if (errno != EINTR) return false;
    }
}

bool WouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

}  // namespace

struct StreamSocket::Impl {
    UniqueFd fd;
};

StreamSocket::StreamSocket() = default;
StreamSocket::~StreamSocket() = default;
StreamSocket::StreamSocket(StreamSocket&&) noexcept = default;
StreamSocket& StreamSocket::operator=(StreamSocket&&) noexcept = default;

bool StreamSocket::Connected() const { return m_impl != nullptr; }
void StreamSocket::Close() { m_impl.reset(); }

bool StreamSocket::Connect(const Resolved& found, Deadline deadline, std::string& error) {
    Close();
    for (const auto& a : found.addresses) {
        UniqueFd fd(::socket(a.family, a.socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a.protocol));
        if (!fd) {
            error = std::strerror(errno);
            continue;
        }
        int err = 0;
        if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&a.addr), a.length) != 0) {
            err = errno;
            if (err == EINPROGRESS) {
                socklen_t len = sizeof err;
                if (!WaitFor(fd.Get(), POLLOUT, deadline))
                    err = ETIMEDOUT;
                else if (::getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &err, &len) != 0)
                    err = errno;
            }
        }
        if (err == 0) {
            const int one = 1;
            ::setsockopt(fd.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            m_impl = std::make_unique<Impl>(Impl{std::move(fd)});
            return true;
        }
        error = std::strerror(err);
    }
    return false;
}

StreamSocket::Io StreamSocket::Send(std::string_view bytes, Deadline deadline, std::string& error) {
    if (!m_impl) return Io::kClosed;
    const int fd = m_impl->fd.Get();
    for (std::size_t sent = 0; sent < bytes.size();) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
        } else if (n < 0 && (WouldBlock(errno) || errno == EINTR)) {
            if (!WaitFor(fd, POLLOUT, deadline)) return Io::kTimeout;
        } else {
            error = std::strerror(errno);
            return Io::kFailed;
        }
    }
    return Io::kDone;
}

StreamSocket::Io StreamSocket::Receive(char* buffer, std::size_t capacity, std::size_t& got, Deadline deadline,
                                       std::string& error) {
    got = 0;
    if (!m_impl) return Io::kClosed;
    const int fd = m_impl->fd.Get();
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, capacity, MSG_DONTWAIT);
        if (n > 0) {
            got = static_cast<std::size_t>(n);
            return Io::kDone;
        }
        if (n == 0) return Io::kClosed;
        if (errno == EINTR) continue;
        if (!WouldBlock(errno)) {
            error = std::strerror(errno);
            return Io::kFailed;
        }
        if (!WaitFor(fd, POLLIN, deadline)) return Io::kTimeout;
    }
}

struct DatagramSocket::Impl {
    UniqueFd fd;
    std::uint16_t port = 0;
};

DatagramSocket::DatagramSocket() = default;
DatagramSocket::~DatagramSocket() = default;

bool DatagramSocket::Bound() const { return m_impl != nullptr; }
Handle DatagramSocket::Ready() const { return m_impl ? m_impl->fd.Get() : kNoHandle; }
std::uint16_t DatagramSocket::Port() const { return m_impl ? m_impl->port : 0; }

DatagramSocket::BindFault DatagramSocket::Bind(const std::string& address, std::uint16_t port, std::string& error) {
    sockaddr_storage storage{};
    socklen_t length = 0;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
    if (address.empty()) {
        v4->sin_family = AF_INET;
        v4->sin_addr.s_addr = htonl(INADDR_ANY);
        v4->sin_port = htons(port);
        length = sizeof *v4;
    } else if (::inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        length = sizeof *v4;
    } else if (::inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        length = sizeof *v6;
    } else {
        return BindFault::kNotNumeric;
    }
    UniqueFd fd(::socket(storage.ss_family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd) {
        error = std::strerror(errno);
        return BindFault::kNoSocket;
    }
    const int one = 1;
    if (::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
        ::bind(fd.Get(), reinterpret_cast<sockaddr*>(&storage), length) != 0) {
        error = std::strerror(errno);
        return BindFault::kNotBound;
    }
    ::getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&storage), &length);
    const std::uint16_t bound = ntohs(storage.ss_family == AF_INET ? v4->sin_port : v6->sin6_port);
    m_impl = std::make_unique<Impl>(Impl{std::move(fd), bound});
    return BindFault::kNone;
}

DatagramSocket::Io DatagramSocket::ReceiveFrom(char* buffer, std::size_t capacity, std::size_t& size,
                                               std::string& sender, std::string& error) {
    size = 0;
    if (!m_impl) return Io::kNone;
    for (;;) {
        sockaddr_storage from{};
        socklen_t fromLength = sizeof from;
        // MSG_TRUNC: the datagram's whole length, not what fitted.
        const ssize_t n = ::recvfrom(m_impl->fd.Get(), buffer, capacity, MSG_TRUNC | MSG_DONTWAIT,
                                     reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (WouldBlock(errno)) return Io::kNone;
            error = std::strerror(errno);
            return Io::kFailed;
        }
        size = static_cast<std::size_t>(n);
        char host[INET6_ADDRSTRLEN] = "?";
        char service[8] = "?";
        ::getnameinfo(reinterpret_cast<const sockaddr*>(&from), sizeof from, host, sizeof host, service, sizeof service,
                      NI_NUMERICHOST | NI_NUMERICSERV);
        sender = std::string(host) + ":" + service;
        return Io::kDone;
    }
}

}  // namespace kelvane::svc
