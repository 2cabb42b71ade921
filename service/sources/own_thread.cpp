// A polled source asked on a thread of its own. The loop's thread only takes
// what the exchanges left, woken as a pushed source wakes it, so that a source
// that hangs to the end of its deadline holds its own radio and no other.
#include <condition_variable>
#include <mutex>
#include <thread>

#include "service/sources/source.h"

namespace kelvane::svc {
namespace {

class OwnThread final : public Source {
public:
    OwnThread(std::unique_ptr<Source> polled, const std::atomic<std::chrono::milliseconds>& period)
        : m_polled(std::move(polled)), m_period(period) {
        Take({});
        m_seen = m_said;
    }
    ~OwnThread() override {
        {
            const std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_stopped.notify_all();
        if (m_thread.joinable()) m_thread.join();
    }

    bool Start(bool firstNow, std::string& why) {
        if (!m_wake.Open(why)) return false;
        if (firstNow) Exchange(), m_seen = Said();
        m_thread = std::thread([this, firstNow] { Run(firstNow); });
        return true;
    }

    void Read(bool transmit, std::vector<Reading>& readings) override {
        m_transmit = transmit;
        m_wake.Clear();
        const std::lock_guard lock(m_mutex);
        readings.insert(readings.end(), m_pending.begin(), m_pending.end());
        m_pending.clear();
        m_seen = m_said;
    }
    Handle Fd() const override { return m_wake.Ready(); }
    std::string Name() const override { return m_seen.name; }
    std::string State() const override { return m_seen.state; }
    std::string NoTransmitState() const override { return m_seen.noTransmitState; }
    std::string TransmitStateBack() const override { return m_seen.transmitStateBack; }
    std::string InterlockCaveat() const override { return m_seen.caveat; }
    bool Lost() const override { return m_seen.lost; }

private:
    // What the source says of itself, as of its last exchange. The loop sees it
    // as of its last Read, with the readings it took then, so that a status
    // never pairs a state that changed since with what the loop made of the old one.
    struct Words {
        std::string name, state, noTransmitState, transmitStateBack, caveat;
        bool lost = false;
    };
    Words Said() const {
        const std::lock_guard lock(m_mutex);
        return m_said;
    }

    // The loop is woken for readings, and for a state that changed so the page shows it.
    void Take(std::vector<Reading> got) {
        Words said{m_polled->Name(),
                   m_polled->State(),
                   m_polled->NoTransmitState(),
                   m_polled->TransmitStateBack(),
                   m_polled->InterlockCaveat(),
                   m_polled->Lost()};
        const std::lock_guard lock(m_mutex);
        const bool news = !got.empty() || said.state != m_said.state || said.lost != m_said.lost;
        m_pending.insert(m_pending.end(), got.begin(), got.end());
        m_said = std::move(said);
        if (news) m_wake.Signal();
    }
    void Exchange() {
        std::vector<Reading> got;
        m_polled->Read(m_transmit, got);
        Take(std::move(got));
    }
    void Run(bool firstDone) {
        using Clock = std::chrono::steady_clock;
        auto next = Clock::now() + (firstDone ? m_period.load() : std::chrono::milliseconds{0});
        for (;;) {
            {
                std::unique_lock lock(m_mutex);
                if (m_stopped.wait_until(lock, next, [this] { return m_stop; })) return;
            }
            Exchange();
            next += m_period.load();
            // A slow exchange is not made up for with a burst.
            if (const auto now = Clock::now(); next < now) next = now;
        }
    }

    std::unique_ptr<Source> m_polled;
    const std::atomic<std::chrono::milliseconds>& m_period;
    std::atomic<bool> m_transmit = true;
    Wake m_wake;
    mutable std::mutex m_mutex;
    std::condition_variable m_stopped;
    bool m_stop = false;
    std::vector<Reading> m_pending;
    Words m_said;
    Words m_seen;  // the loop's thread only
    std::thread m_thread;
};

}  // namespace

std::unique_ptr<Source> OnOwnThread(std::unique_ptr<Source> polled,
                                    const std::atomic<std::chrono::milliseconds>& period, bool firstNow,
                                    std::string& why) {
    if (polled->Fd() != kNoHandle) return polled;
    auto threaded = std::make_unique<OwnThread>(std::move(polled), period);
    if (!threaded->Start(firstNow, why)) return nullptr;
    return threaded;
}

}  // namespace kelvane::svc
