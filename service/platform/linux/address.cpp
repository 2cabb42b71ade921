// Numeric addresses as the C library reads them, so that what the service
// accepts is exactly what its sockets can use.
#include <arpa/inet.h>

#include <cstring>

#include "service/base/endpoint.h"

namespace kelvane::svc {

NumericAddress ReadNumericAddress(const std::string& host) {
    NumericAddress out;
    in_addr v4{};
    in6_addr v6{};
    if (::inet_pton(AF_INET, host.c_str(), &v4) == 1) {
        out.family = NumericAddress::kV4;
        std::memcpy(out.bytes.data(), &v4, sizeof v4);
    } else if (::inet_pton(AF_INET6, host.c_str(), &v6) == 1) {
        out.family = NumericAddress::kV6;
        std::memcpy(out.bytes.data(), &v6, sizeof v6);
    }
    return out;
}

}  // namespace kelvane::svc
