#include "outputs/hid_relay.h"

#include <algorithm>

namespace kelvane::outputs {

int HidRelayCount(std::string_view product) {
    constexpr std::string_view kPrefix = "USBRelay";
    if (product.size() != kPrefix.size() + 1 || product.substr(0, kPrefix.size()) != kPrefix) return 0;
    const char digit = product.back();
    return digit >= '1' && digit <= '8' ? digit - '0' : 0;
}

HidRelayStatus ParseHidRelayStatus(const std::uint8_t* data, std::size_t size) {
    HidRelayStatus status;
    if (data == nullptr || size < 8) return status;
    for (std::size_t i = 0; i < kHidRelaySerialSize && data[i] != 0; ++i) status.serial += static_cast<char>(data[i]);
    status.relays = data[7];
    return status;
}

HidRelayChoice ChooseHidRelay(const std::vector<HidRelayFound>& found, std::string_view serial) {
    std::vector<std::string> others;
    for (std::size_t i = 0; i < found.size(); ++i) {
        const HidRelayFound& f = found[i];
        const int relays = HidRelayCount(f.product);
        if (relays == 0) continue;
        if (!f.problem.empty()) {
            others.push_back(f.where + " (" + f.problem + ")");
        } else if (serial.empty() || f.serial == serial) {
            return {i, relays, {}};
        } else {
            others.push_back(f.serial);
        }
    }
    std::string list;
    for (const auto& o : others) list += (list.empty() ? ": " : ", ") + o;
    if (serial.empty()) return {std::nullopt, 0, "no USBRelay board" + (others.empty() ? "" : " that answers" + list)};
    const std::size_t n = others.size();
    return {std::nullopt, 0,
            "no USBRelay board with serial " + std::string(serial) + " (" + std::to_string(n) + " other board" +
                (n == 1 ? "" : "s") + " present" + list + ")"};
}

HidRelayReport HidRelayCommand(int relay, bool on) {
    HidRelayReport report{};
    report[1] = on ? kHidRelayOn : kHidRelayOff;
    report[2] = static_cast<std::uint8_t>(relay);
    return report;
}

HidRelayPlan::HidRelayPlan(int relayCount, bool invert)
    : m_count(std::clamp(relayCount, 1, kHidRelayMaxCount)), m_invert(invert) {}

std::vector<HidRelayReport> HidRelayPlan::ReportsFor(std::uint8_t value) {
    const auto mask = static_cast<std::uint8_t>((1u << m_count) - 1u);
    const auto wanted = static_cast<std::uint8_t>((m_invert ? ~value : value) & mask);
    const auto changed = static_cast<std::uint8_t>(m_known ? (wanted ^ m_state) : mask);
    std::vector<HidRelayReport> reports;
    for (int n = 0; n < m_count; ++n) {
        if (changed & (1u << n)) reports.push_back(HidRelayCommand(n + 1, (wanted >> n) & 1u));
    }
    m_state = wanted;
    m_known = true;
    return reports;
}

void HidRelayPlan::Forget() { m_known = false; }

}  // namespace kelvane::outputs
