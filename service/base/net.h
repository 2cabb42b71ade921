#pragma once
// The sockets the sources use, as the operating system's files give them
// (service/platform/linux/net.cpp on Linux): no call here ever waits past the
// deadline it is given, so that no source can hold the loop.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "service/base/platform.h"

namespace kelvane::svc {

struct Resolved;  // a name's addresses, from the name lookup

using Deadline = std::chrono::steady_clock::time_point;

// One TCP connection; closed when it goes.
class StreamSocket {
public:
    enum class Io { kDone, kTimeout, kClosed, kFailed };
    StreamSocket();
    ~StreamSocket();
    StreamSocket(StreamSocket&&) noexcept;
    StreamSocket& operator=(StreamSocket&&) noexcept;

    // Tries `found`'s addresses in turn until one connects, all of them by
    // `deadline`; false with the last one's reason. Small writes go out at once.
    bool Connect(const Resolved& found, Deadline deadline, std::string& error);
    bool Connected() const;
    void Close();
    // All of `bytes`, waiting for room until `deadline`. `error`: the system's reason for kFailed.
    Io Send(std::string_view bytes, Deadline deadline, std::string& error);
    // Up to `capacity` bytes of what has come, waiting for some until `deadline`
    // (a deadline gone by: only what waits already). kClosed: the peer closed.
    Io Receive(char* buffer, std::size_t capacity, std::size_t& got, Deadline deadline, std::string& error);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// A UDP socket that only listens.
class DatagramSocket {
public:
    DatagramSocket();
    ~DatagramSocket();

    enum class BindFault { kNone, kNotNumeric, kNoSocket, kNotBound };
    // `address` a numeric IPv4 or IPv6 one, empty for every IPv4 interface;
    // `port` 0 lets the system choose. The port is shared with other listeners
    // on this host. `error`: the system's reason.
    BindFault Bind(const std::string& address, std::uint16_t port, std::string& error);
    bool Bound() const;
    // Readable when datagrams wait; kNoHandle before Bind.
    Handle Ready() const;
    // The bound port (the one the system chose for port 0).
    std::uint16_t Port() const;

    enum class Io { kDone, kNone, kFailed };
    // The next waiting datagram, without waiting; kNone when none waits. `size`
    // is its whole length, even beyond `capacity` (the rest is dropped);
    // `sender` its "ADDR:PORT".
    Io ReceiveFrom(char* buffer, std::size_t capacity, std::size_t& size, std::string& sender, std::string& error);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace kelvane::svc
