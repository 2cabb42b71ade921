#pragma once
// The antennas the station's radios share: what each radio holds and wants,
// and the lockout between them. Main thread only. A station with one radio has
// a board of one, on which every claim gets the first choice. An antenna one
// radio leaves is given to another no sooner than kBreakBeforeMake later, so
// its relays open before the other's close: never two radios on it at once.
// A radio holds what its device confirmed (a write, or the state read back at
// open); an antenna it may be on without that (a write in flight or failed, a
// device that cannot tell) is kept from the others until a write is confirmed.

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/lockout.h"

namespace kelvane::svc {

class Switchboard {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    static constexpr std::chrono::milliseconds kBreakBeforeMake{50};

    explicit Switchboard(std::vector<std::string> names, Alternates alternates = {},
                         Clock now = std::chrono::steady_clock::now);

    std::size_t Count() const { return m_radios.size(); }
    const std::string& Name(std::size_t radio) const { return m_radios[radio].name; }
    const Alternates& alternates() const { return m_alternates; }
    void SetAlternates(const Alternates& alternates) { m_alternates = alternates; }

    // The radio, free to change now, wants `choices`: what it gets. Held only
    // once the device confirms it; until then it may be on either.
    LockoutGrant Claim(std::size_t radio, const std::vector<int>& choices);
    // Its device confirmed a write of `antenna` (nothing: no antenna).
    void Confirm(std::size_t radio, std::optional<int> antenna);
    // What its device said at open: one antenna is held; several may be.
    void Found(std::size_t radio, const std::vector<int>& antennas);
    // What a claim would give now, taking nothing: the change waiting for receive.
    LockoutGrant Preview(std::size_t radio, const std::vector<int>& choices) const;
    std::optional<int> Holds(std::size_t radio) const { return m_radios[radio].holds; }
    // The other radio holding `antenna`, or that may be on it.
    std::optional<std::size_t> HolderOf(int antenna, std::size_t self) const;
    // Holding none though it wants one: the radio on its first choice.
    std::optional<std::size_t> BlockedBy(std::size_t radio) const;

private:
    struct Radio {
        std::string name;
        std::vector<int> choices;
        std::optional<int> holds;
        std::vector<int> unsure;  // it may be on these too, until a write is confirmed
    };
    struct Release {
        int antenna;
        std::size_t by;
        std::chrono::steady_clock::time_point at;
    };
    std::vector<LockoutRadio> Asking(std::size_t radio, const std::vector<int>& choices,
                                     std::vector<std::size_t>& owners) const;
    LockoutGrant Ask(std::size_t radio, const std::vector<int>& choices) const;

    std::vector<Radio> m_radios;
    Alternates m_alternates;
    Clock m_now;
    std::vector<Release> m_released;  // within kBreakBeforeMake
};

}  // namespace kelvane::svc
