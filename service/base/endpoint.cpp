#include "service/base/endpoint.h"

#include <algorithm>
#include <cstdint>

#include "service/base/digits.h"

namespace kelvane::svc {

EndpointFault ParseEndpoint(std::string_view text, EndpointForm form, Endpoint& out) {
    using F = EndpointFault;
    std::string_view host, port;
    bool hasHost = true, hasPort = true;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos) return {F::kShape, text};
        host = text.substr(1, close - 1);
        const std::string_view rest = text.substr(close + 1);
        if (rest.empty() && form.alone == EndpointForm::kHost)
            hasPort = false;
        else if (rest.empty() || rest.front() != ':')
            return {F::kShape, text};
        else
            port = rest.substr(1);
    } else if (const std::size_t colon = text.rfind(':'); colon != std::string_view::npos) {
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
    } else if (form.alone == EndpointForm::kHost) {
        host = text, hasPort = false;
    } else if (form.alone == EndpointForm::kPort) {
        port = text, hasHost = false;
    } else {
        return {F::kShape, text};
    }
    if (hasHost && host.empty()) return {F::kNoHost, host};
    if (hasHost && form.numeric && ReadNumericAddress(std::string(host)).family == NumericAddress::kNone)
        return {F::kNotNumeric, host};
    std::uint64_t number = 0;
    std::string why;
    if (hasPort && (!ParseDigits(port, 65535, number, why) || number == 0)) return {F::kPort, port};
    if (hasHost) out.host = std::string(host);
    if (hasPort) out.port = std::string(port);
    return {};
}

bool ParseEndpoint(std::string_view text, Endpoint& out) {
    return ParseEndpoint(text, EndpointForm{}, out).kind == EndpointFault::kNone;
}

bool IsLoopback(const std::string& host) {
    if (host == "localhost") return true;
    const NumericAddress a = ReadNumericAddress(host);
    if (a.family == NumericAddress::kV4) return a.bytes[0] == 127;
    // ::1 alone
    return a.family == NumericAddress::kV6 &&
           std::all_of(a.bytes.begin(), a.bytes.end() - 1, [](auto b) { return b == 0; }) && a.bytes.back() == 1;
}

}  // namespace kelvane::svc
