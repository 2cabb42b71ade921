#include "service/sources/rigctld/rigctld_link.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

namespace kelvane::svc {
namespace {

constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Digits, with at least one; advances `i`.
bool Digits(std::string_view s, std::size_t& i) {
    const std::size_t start = i;
    while (i < s.size() && IsDigit(s[i])) ++i;
    return i > start;
}

int MillisLeft(std::chrono::steady_clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, left.count()));
}

// Waits for `events` on `fd` until `deadline`; false on timeout.
bool WaitFor(int fd, short events, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, MillisLeft(deadline));
        if (n > 0) return true;
        if (n == 0) return false;
        if (errno != EINTR) return false;
    }
}

}  // namespace

Reply ParseReply(std::string_view line) {
    Reply r;
    if (line.empty()) {
        r.bad = "empty line";
        return r;
    }
    if (line.substr(0, 5) == "RPRT ") {
        std::size_t i = 5;
        if (i < line.size() && line[i] == '-') ++i;
        const std::size_t digits = i;
        if (!Digits(line, i) || i != line.size() || i - digits > 9) {
            r.bad = "malformed RPRT";
            return r;
        }
        std::from_chars(line.data() + 5, line.data() + line.size(), r.report);
        r.kind = Reply::kReport;
        return r;
    }
    std::size_t i = 0;
    if (line[0] == '-') ++i;
    const std::size_t whole = i;
    bool ok = Digits(line, i);
    const std::size_t wholeDigits = i - whole;
    if (ok && i < line.size() && line[i] == '.') {
        ++i;
        ok = Digits(line, i);
    }
    if (!ok || i != line.size()) {
        r.bad = line.find(',') != std::string_view::npos ? "comma in a number" : "not a number";
        return r;
    }
    // Before any conversion: a value that fits a double may still not fit what it becomes later.
    if (wholeDigits > kMaxWholeDigits) {
        r.bad = "number out of range";
        return r;
    }
    const auto [end, ec] = std::from_chars(line.data(), line.data() + line.size(), r.number);
    if (ec != std::errc() || end != line.data() + line.size()) {
        r.bad = "number out of range";
        return r;
    }
    r.kind = Reply::kNumber;
    return r;
}

bool RigLink::EnsureConnected() {
    if (m_fd) return true;
    const auto now = Clock::now();
    if (now < m_nextAttempt) return false;
    std::string error;
    m_fd = ConnectOnce(error);
    if (!m_fd) {
        Drop("cannot connect (" + error + ")");
        return false;
    }
    if (++m_connections == 1) m_log.Info("connected to rigctld at " + Where());
    return true;
}

UniqueFd RigLink::ConnectOnce(std::string& error) {
    Resolved found;
    // A slow resolver must not hold the poll: a name is waited for no longer than a reply.
    if (!m_lookup.Addresses(m_options.endpoint, m_options.replyTimeout, found, error)) return {};
    // One bound for every address together, so that a name with many cannot hold the poll either.
    const auto deadline = Clock::now() + m_options.replyTimeout;
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
            return fd;
        }
        error = std::strerror(err);
    }
    return {};
}

void RigLink::Drop(const std::string& why) {
    m_fd.Reset();
    m_log.Begin(Condition::kSource, Log::kWarning,
                "rigctld at " + Where() + ": " + why + "; reconnecting, the output keeps its state");
    m_nextAttempt = Clock::now() + m_backoff.Failed();
}

// Bytes waiting before a command was sent belong to no question asked now.
// A peer that keeps sending unasked is no rigctld: bounded, so it cannot hold the poll.
bool RigLink::DrainStale() {
    char buf[512];
    std::size_t drained = 0;
    for (;;) {
        const ssize_t n = ::recv(m_fd.Get(), buf, sizeof buf, MSG_DONTWAIT);
        if (n > 0) {
            drained += static_cast<std::size_t>(n);
            if (drained > 64 * 1024) {
                Drop("more than 64 KiB sent without being asked");
                return false;
            }
            continue;
        }
        if (n == 0) {
            Drop("connection closed");
            return false;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return true;
        Drop(std::string("connection lost (") + std::strerror(errno) + ")");
        return false;
    }
}

bool RigLink::ReadLine(std::string& line, bool& tooLong, std::string& error) {
    const auto deadline = Clock::now() + m_options.replyTimeout;
    line.clear();
    tooLong = false;
    char buf[512];
    for (;;) {
        if (!WaitFor(m_fd.Get(), POLLIN, deadline)) {
            error = "no reply within " + std::to_string(m_options.replyTimeout.count()) + " ms";
            return false;
        }
        const ssize_t n = ::recv(m_fd.Get(), buf, sizeof buf, MSG_DONTWAIT);
        if (n == 0) {
            error = line.empty() ? "connection closed" : "connection closed in the middle of a reply";
            return false;
        }
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
            error = std::string("connection lost (") + std::strerror(errno) + ")";
            return false;
        }
        const std::string_view got(buf, static_cast<std::size_t>(n));
        const std::size_t newline = got.find('\n');
        line.append(got.substr(0, newline));
        if (line.size() > m_options.maxLine) {
            tooLong = true;
            line.resize(m_options.maxLine);
            return true;
        }
        if (newline != std::string_view::npos) return true;
    }
}

bool RigLink::Ask(std::string_view command, Reply& reply) {
    if (!m_fd || !DrainStale()) return false;
    std::string out(command);
    out.push_back('\n');
    const auto deadline = Clock::now() + m_options.replyTimeout;
    for (std::size_t sent = 0; sent < out.size();) {
        const ssize_t n = ::send(m_fd.Get(), out.data() + sent, out.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            if (!WaitFor(m_fd.Get(), POLLOUT, deadline)) {
                Drop("cannot send within " + std::to_string(m_options.replyTimeout.count()) + " ms");
                return false;
            }
        } else {
            Drop(std::string("connection lost (") + std::strerror(errno) + ")");
            return false;
        }
    }
    std::string line, error;
    bool tooLong = false;
    if (!ReadLine(line, tooLong, error)) {
        Drop(error + " to '" + std::string(command) + "'");
        return false;
    }
    if (tooLong) {
        reply = Reply{};
        reply.bad = "line too long";
        reply.excerpt = Printable(line);
        // The rest of that line would be read as later replies.
        Drop("reply longer than " + std::to_string(m_options.maxLine) + " bytes");
        return true;
    }
    reply = ParseReply(line);
    if (reply.kind == Reply::kBad) reply.excerpt = Printable(line);
    if (reply.kind != Reply::kBad) {
        m_backoff.Answered();
        m_log.End(Condition::kSource, "rigctld at " + Where() + " answers again");
    }
    return true;
}

}  // namespace kelvane::svc
