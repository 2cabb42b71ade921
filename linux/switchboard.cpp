#include "linux/switchboard.h"

namespace kelvane::svc {

Switchboard::Switchboard(std::vector<std::string> names, Alternates alternates) : m_alternates(std::move(alternates)) {
    for (auto& name : names) m_radios.push_back({std::move(name), {}, std::nullopt});
}

// Only the asking radio may change: the others move at their own receive readings.
std::vector<LockoutRadio> Switchboard::Asking(std::size_t radio, const std::vector<int>& choices) const {
    std::vector<LockoutRadio> radios;
    for (std::size_t i = 0; i < m_radios.size(); ++i)
        radios.push_back({i == radio ? choices : m_radios[i].choices, m_radios[i].holds, i == radio});
    return radios;
}

LockoutGrant Switchboard::Claim(std::size_t radio, const std::vector<int>& choices) {
    const LockoutGrant grant = Lockout(Asking(radio, choices))[radio];
    m_radios[radio].choices = choices;
    m_radios[radio].holds = grant.antenna;
    return grant;
}

LockoutGrant Switchboard::Preview(std::size_t radio, const std::vector<int>& choices) const {
    return Lockout(Asking(radio, choices))[radio];
}

std::optional<std::size_t> Switchboard::HolderOf(int antenna, std::size_t self) const {
    for (std::size_t i = 0; i < m_radios.size(); ++i)
        if (i != self && m_radios[i].holds == antenna) return i;
    return std::nullopt;
}

std::optional<std::size_t> Switchboard::BlockedBy(std::size_t radio) const {
    const Radio& r = m_radios[radio];
    if (r.holds || r.choices.empty()) return std::nullopt;
    return HolderOf(r.choices.front(), radio);
}

}  // namespace kelvane::svc
