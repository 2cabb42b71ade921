#pragma once
// How long a link waits before its next connect: the first wait after a loss,
// doubling with each further loss up to a ceiling, so a peer that stays away
// is not hammered and one that comes back is found within the ceiling.
// An answer starts it over.

#include <algorithm>
#include <chrono>

namespace kelvane::svc {

class Backoff {
public:
    Backoff(std::chrono::milliseconds first, std::chrono::milliseconds ceiling) : m_first(first), m_ceiling(ceiling) {}
    // The wait after one more loss.
    std::chrono::milliseconds Failed() {
        m_wait = m_wait.count() == 0 ? m_first : std::min(m_wait * 2, m_ceiling);
        return m_wait;
    }
    void Answered() { m_wait = std::chrono::milliseconds{0}; }

private:
    std::chrono::milliseconds m_first, m_ceiling;
    std::chrono::milliseconds m_wait{0};
};

}  // namespace kelvane::svc
