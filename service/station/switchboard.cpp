#include "service/station/switchboard.h"

#include <algorithm>

namespace kelvane::svc {

Switchboard::Switchboard(std::vector<std::string> names, Alternates alternates, Clock now)
    : m_alternates(std::move(alternates)), m_now(std::move(now)) {
    for (auto& name : names) m_radios.push_back({std::move(name), {}, std::nullopt, {}});
}

// Only the asking radio may change: the others move at their own receive
// readings. An antenna another radio has just left, or may be on, counts as
// held by it: a radio of its own that cannot change.
std::vector<LockoutRadio> Switchboard::Asking(std::size_t radio, const std::vector<int>& choices,
                                              std::vector<std::size_t>& owners) const {
    std::vector<LockoutRadio> radios;
    for (std::size_t i = 0; i < m_radios.size(); ++i) {
        radios.push_back({i == radio ? choices : m_radios[i].choices, m_radios[i].holds, i == radio});
        owners.push_back(i);
    }
    const auto held = [&](int antenna, std::size_t by) {
        radios.push_back({{}, antenna, false});
        owners.push_back(by);
    };
    for (std::size_t i = 0; i < m_radios.size(); ++i)
        if (i != radio)
            for (const int a : m_radios[i].unsure) held(a, i);
    const auto now = m_now();
    for (const Release& r : m_released)
        if (r.by != radio && now - r.at < kBreakBeforeMake) held(r.antenna, r.by);
    return radios;
}

LockoutGrant Switchboard::Ask(std::size_t radio, const std::vector<int>& choices) const {
    std::vector<std::size_t> owners;
    const auto radios = Asking(radio, choices, owners);
    LockoutGrant grant = Lockout(radios)[radio];
    if (grant.blockedBy) grant.blockedBy = owners[*grant.blockedBy];
    return grant;
}

LockoutGrant Switchboard::Claim(std::size_t radio, const std::vector<int>& choices) {
    const auto now = m_now();
    std::erase_if(m_released, [&](const Release& r) { return now - r.at >= kBreakBeforeMake; });
    const LockoutGrant grant = Ask(radio, choices);
    Radio& r = m_radios[radio];
    r.choices = choices;
    if (grant.antenna && grant.antenna != r.holds) r.unsure.push_back(*grant.antenna);
    return grant;
}

void Switchboard::Confirm(std::size_t radio, std::optional<int> antenna) {
    Radio& r = m_radios[radio];
    if (r.holds && r.holds != antenna) m_released.push_back({*r.holds, radio, m_now()});
    r.holds = antenna;
    r.unsure.clear();
}

void Switchboard::Found(std::size_t radio, const std::vector<int>& antennas) {
    Radio& r = m_radios[radio];
    if (antennas.size() == 1 && !r.holds) return void(r.holds = antennas.front());
    r.unsure.insert(r.unsure.end(), antennas.begin(), antennas.end());
}

LockoutGrant Switchboard::Preview(std::size_t radio, const std::vector<int>& choices) const {
    return Ask(radio, choices);
}

std::optional<std::size_t> Switchboard::HolderOf(int antenna, std::size_t self) const {
    for (std::size_t i = 0; i < m_radios.size(); ++i)
        if (i != self && (m_radios[i].holds == antenna || std::ranges::count(m_radios[i].unsure, antenna) > 0))
            return i;
    return std::nullopt;
}

std::optional<std::size_t> Switchboard::BlockedBy(std::size_t radio) const {
    const Radio& r = m_radios[radio];
    if (r.holds || r.choices.empty()) return std::nullopt;
    return HolderOf(r.choices.front(), radio);
}

}  // namespace kelvane::svc
