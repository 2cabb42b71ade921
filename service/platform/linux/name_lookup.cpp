#include "service/platform/linux/name_lookup.h"

#include <netdb.h>

#include <cstring>
#include <system_error>
#include <thread>

namespace kelvane::svc {

Resolved ResolveName(const std::string& host, const std::string& port, int flags) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = flags;
    addrinfo* list = nullptr;
    Resolved out;
    out.error = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &list);
    if (out.error != 0) return out;
    for (const addrinfo* a = list; a != nullptr; a = a->ai_next) {
        if (a->ai_addrlen > sizeof(sockaddr_storage)) continue;
        Resolved::Address address{a->ai_family, a->ai_socktype, a->ai_protocol, {}, a->ai_addrlen};
        std::memcpy(&address.addr, a->ai_addr, a->ai_addrlen);
        out.addresses.push_back(address);
    }
    ::freeaddrinfo(list);
    return out;
}

bool NameLookup::Addresses(const Endpoint& e, std::chrono::milliseconds wait, Resolved& found, std::string& error) {
    found = ResolveName(e.host, e.port, AI_NUMERICHOST | AI_NUMERICSERV);
    if (found.error == EAI_NONAME) {
        if (!m_resolving.valid()) {
            std::packaged_task<Resolved()> task([e] { return ResolveName(e.host, e.port); });
            try {
                m_resolving = task.get_future();
                std::thread(std::move(task)).detach();
            } catch (const std::system_error& failed) {
                m_resolving = {};
                error = std::string("cannot start the name lookup: ") + failed.what();
                return false;
            }
        }
        if (m_resolving.wait_for(wait) != std::future_status::ready) {
            error = "looking up " + e.host + " takes longer than " + std::to_string(wait.count()) + " ms";
            return false;
        }
        found = m_resolving.get();
    }
    if (found.error != 0) {
        error = ::gai_strerror(found.error);
        return false;
    }
    if (found.addresses.empty()) {
        error = "no address";
        return false;
    }
    return true;
}

std::string NumericHost(const Resolved::Address& address) {
    char host[NI_MAXHOST] = "";
    if (::getnameinfo(reinterpret_cast<const sockaddr*>(&address.addr), address.length, host, sizeof host, nullptr, 0,
                      NI_NUMERICHOST) != 0)
        return {};
    return host;
}

}  // namespace kelvane::svc
