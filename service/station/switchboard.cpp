#include "service/station/switchboard.h"

#include <algorithm>

namespace kelvane::svc {

Switchboard::Switchboard(std::vector<std::string> names, Alternates alternates, Clock now)
    : m_alternates(std::move(alternates)), m_now(std::move(now)) {
    for (auto& name : names) m_radios.push_back({std::move(name), {}, std::nullopt});
}

// Only the asking radio may change: the others move at their own receive
// readings. An antenna another radio has just left still counts as held.
std::vector<LockoutRadio> Switchboard::Asking(std::size_t radio, const std::vector<int>& choices) const {
    std::vector<LockoutRadio> radios;
    for (std::size_t i = 0; i < m_radios.size(); ++i)
        radios.push_back({i == radio ? choices : m_radios[i].choices, m_radios[i].holds, i == radio});
    const auto now = m_now();
    for (const Release& r : m_released)
        if (r.by != radio && now - r.at < kBreakBeforeMake) radios.push_back({{}, r.antenna, false});
    return radios;
}

LockoutGrant Switchboard::Ask(std::size_t radio, const std::vector<int>& choices) const {
    const auto radios = Asking(radio, choices);
    LockoutGrant grant = Lockout(radios)[radio];
    if (grant.blockedBy && *grant.blockedBy >= m_radios.size()) {
        // Blocked by a release: the radio that left it.
        const int left = *radios[*grant.blockedBy].holds;
        for (const Release& r : m_released)
            if (r.antenna == left && r.by != radio) grant.blockedBy = r.by;
    }
    return grant;
}

LockoutGrant Switchboard::Claim(std::size_t radio, const std::vector<int>& choices) {
    const auto now = m_now();
    std::erase_if(m_released, [&](const Release& r) { return now - r.at >= kBreakBeforeMake; });
    const LockoutGrant grant = Ask(radio, choices);
    Radio& r = m_radios[radio];
    if (r.holds && r.holds != grant.antenna) m_released.push_back({*r.holds, radio, now});
    r.choices = choices;
    r.holds = grant.antenna;
    return grant;
}

LockoutGrant Switchboard::Preview(std::size_t radio, const std::vector<int>& choices) const {
    return Ask(radio, choices);
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
