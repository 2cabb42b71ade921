#pragma once
// Host names for the links that connect out (rigctld, flrig), looked up
// without ever holding the caller longer than it allows: getaddrinfo cannot
// be interrupted, so a name runs on a thread of its own.

#include <sys/socket.h>

#include <chrono>
#include <future>
#include <string>
#include <vector>

#include "service/sources/wire_text.h"

namespace kelvane::svc {

// What getaddrinfo found, copied out of its list.
struct Resolved {
    struct Address {
        int family, socktype, protocol;
        sockaddr_storage addr;
        socklen_t length;
    };
    int error = 0;  // an EAI_ code; 0 when found
    std::vector<Address> addresses;
};
// getaddrinfo for a TCP connection; `flags` as its ai_flags. May block for as long as the resolver takes.
Resolved ResolveName(const std::string& host, const std::string& port, int flags = 0);

// An address is taken at once. A name is looked up on a thread of its own and
// waited for no longer than `wait`; a lookup that outlasts the wait keeps
// running and its answer serves the next call, so there is never more than one.
class NameLookup {
public:
    // False with the reason when there is no address (yet).
    bool Addresses(const Endpoint& where, std::chrono::milliseconds wait, Resolved& found, std::string& error);

private:
    std::future<Resolved> m_resolving;
};

// The numeric text of an address ("192.0.2.1", "::1").
std::string NumericHost(const Resolved::Address& address);

}  // namespace kelvane::svc
