#include "service/sources/rigctld/rigctld_link.h"

#include <algorithm>
#include <charconv>

namespace kelvane::svc {
namespace {

constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Digits, with at least one; advances `i`.
bool Digits(std::string_view s, std::size_t& i) {
    const std::size_t start = i;
    while (i < s.size() && IsDigit(s[i])) ++i;
    return i > start;
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
    if (m_stream.Connected()) return true;
    const auto now = Clock::now();
    if (now < m_nextAttempt) return false;
    std::string error;
    if (!ConnectOnce(error)) {
        Drop("cannot connect (" + error + ")");
        return false;
    }
    if (++m_connections == 1) m_log.Info("connected to rigctld at " + Where());
    return true;
}

bool RigLink::ConnectOnce(std::string& error) {
    Resolved found;
    // A slow resolver must not hold the poll: a name is waited for no longer than the exchange.
    const auto deadline = ExchangeDeadline();
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (!m_lookup.Addresses(m_options.endpoint, std::max(left, std::chrono::milliseconds{0}), found, error))
        return false;
    // One bound for every address together, so that a name with many cannot hold the poll either.
    return m_stream.Connect(found, deadline, error);
}

void RigLink::Drop(const std::string& why) {
    m_stream.Close();
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
        std::size_t got = 0;
        std::string error;
        switch (m_stream.Receive(buf, sizeof buf, got, Clock::now(), error)) {
        case StreamSocket::Io::kDone:
            drained += got;
            if (drained > 64 * 1024) {
                Drop("more than 64 KiB sent without being asked");
                return false;
            }
            continue;
        case StreamSocket::Io::kTimeout:
            return true;
        case StreamSocket::Io::kClosed:
            Drop("connection closed");
            return false;
        case StreamSocket::Io::kFailed:
            break;
        }
        Drop("connection lost (" + error + ")");
        return false;
    }
}

bool RigLink::ReadLine(std::string& line, bool& tooLong, std::string& error) {
    const auto deadline = ExchangeDeadline();
    line.clear();
    tooLong = false;
    char buf[512];
    for (;;) {
        std::size_t got = 0;
        switch (m_stream.Receive(buf, sizeof buf, got, deadline, error)) {
        case StreamSocket::Io::kDone:
            break;
        case StreamSocket::Io::kTimeout:
            error = "no reply within " + std::to_string(m_options.replyTimeout.count()) + " ms";
            return false;
        case StreamSocket::Io::kClosed:
            error = line.empty() ? "connection closed" : "connection closed in the middle of a reply";
            return false;
        case StreamSocket::Io::kFailed:
            error = "connection lost (" + error + ")";
            return false;
        }
        const std::string_view part(buf, got);
        const std::size_t newline = part.find('\n');
        line.append(part.substr(0, newline));
        if (line.size() > m_options.maxLine) {
            tooLong = true;
            line.resize(m_options.maxLine);
            return true;
        }
        if (newline != std::string_view::npos) return true;
    }
}

bool RigLink::Ask(std::string_view command, Reply& reply) {
    if (!m_stream.Connected() || !DrainStale()) return false;
    std::string out(command);
    out.push_back('\n');
    std::string line, error;
    switch (m_stream.Send(out, ExchangeDeadline(), error)) {
    case StreamSocket::Io::kDone:
        break;
    case StreamSocket::Io::kTimeout:
        Drop("cannot send within " + std::to_string(m_options.replyTimeout.count()) + " ms");
        return false;
    case StreamSocket::Io::kClosed:
    case StreamSocket::Io::kFailed:
        Drop("connection lost (" + error + ")");
        return false;
    }
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
