// RadioInfo datagrams: pushed, so the service wakes on the socket. A reading
// stands until the next datagram or until 30 s pass without one: then the
// source is lost and nothing is switched until a datagram comes again.
#include "service/sources/source.h"

#include <map>
#include <memory>
#include <utility>

namespace kelvane::svc {
namespace {

// A logger sends every radio's RadioInfo to one port, and a second socket on
// it would not see them all: radios on one address and port share a socket,
// whose datagrams each reader sorts into every radio's inbox by RadioNr.
class SharedPort {
public:
    struct Inbox {
        int radio = 1;
        UdpListener::Drained got;
    };

    static std::shared_ptr<SharedPort> Open(const UdpSpec& spec, std::string& why) {
        // Port 0 asks the system for a port of its own: never shared.
        static std::map<std::pair<std::string, std::uint16_t>, std::weak_ptr<SharedPort>> open;
        const auto key = std::make_pair(spec.address, spec.port);
        if (spec.port != 0)
            if (auto port = open[key].lock()) {
                port->m_listener.AdmitAlso(spec.from);
                return port;
            }
        UdpSpec all = spec;
        all.radio = 0;
        auto port = std::make_shared<SharedPort>(all);
        if (!port->m_listener.Open(why)) return nullptr;
        if (spec.port != 0) open[key] = port;
        return port;
    }

    explicit SharedPort(const UdpSpec& spec) : m_listener(spec) {}
    void Join(Inbox* inbox) { m_inboxes.push_back(inbox); }
    void Leave(Inbox* inbox) { std::erase(m_inboxes, inbox); }

    // What waits goes to every inbox; refusals and errors to the reader's alone, said once.
    void Drain(Inbox& reader) {
        UdpListener::Drained got = m_listener.Drain();
        for (const RadioInfo& info : got.readings)
            for (Inbox* inbox : m_inboxes)
                if (inbox->radio == info.radio)
                    inbox->got.readings.push_back(info);
                else
                    ++inbox->got.otherRadios;
        for (auto& refusal : got.refusals) reader.got.refusals.push_back(std::move(refusal));
        if (!got.error.empty()) reader.got.error = got.error;
        reader.got.foreign += got.foreign;
        if (got.foreign > 0) reader.got.foreignSender = got.foreignSender;
    }
    Handle Fd() const { return m_listener.Fd(); }
    std::uint16_t Port() const { return m_listener.Port(); }

private:
    UdpListener m_listener;
    std::vector<Inbox*> m_inboxes;
};

class UdpSource final : public Source {
public:
    using Clock = std::chrono::steady_clock;
    UdpSource(const UdpSpec& spec, Log& log, SteadyNow now)
        : m_spec(spec), m_log(log), m_now(std::move(now)), m_silence(m_now()) {
        m_inbox.radio = spec.radio;
    }
    ~UdpSource() override {
        if (m_port) m_port->Leave(&m_inbox);
    }

    bool Open(std::string& why) {
        m_port = SharedPort::Open(m_spec, why);
        if (m_port) m_port->Join(&m_inbox);
        return m_port != nullptr;
    }

    void Read(bool, std::vector<Reading>& readings) override {
        m_port->Drain(m_inbox);
        const UdpListener::Drained got = std::exchange(m_inbox.got, {});
        const auto now = m_now();
        for (const std::string& refusal : got.refusals) Refused("refused a datagram " + refusal, now);
        if (!got.error.empty()) Refused("receive error (" + got.error + ")", now);
        Foreign(got, now);
        m_otherRadios += got.otherRadios;
        if (!got.readings.empty()) {
            m_silence.Heard(now);
            m_otherRadios = 0;
            if (!m_heard) m_log.Info("RadioInfo for radio " + Radio() + " arrives on " + Where());
            m_heard = true;
            m_log.End(Condition::kSource, "RadioInfo for radio " + Radio() + " arrives again on " + Where());
            // A burst of refusals is one condition, not a line each; it ends once they stop.
            if (now - m_lastRefusal >= Silence::kLimit / 3)
                m_log.End(Condition::kBadDatagram, "datagrams on " + Where() + " are read again");
            // Only the newest of a burst: the ones before it are already past, and each would be a switch.
            const RadioInfo& info = got.readings.back();
            m_last = Reading{static_cast<double>(info.BandHertz()), info.transmitting};
            readings.push_back(*m_last);
            return;
        }
        if (m_silence.Lost(now)) {
            std::string others;
            if (m_otherRadios > 0) others = " (" + std::to_string(m_otherRadios) + " for other radios)";
            m_log.Begin(Condition::kSource, Log::kWarning,
                        "no RadioInfo for radio " + Radio() + " on " + Where() + " for " +
                            SpokenDuration(Silence::kLimit) + others +
                            ": the source is lost, the output keeps its state");
            return;
        }
        // The logger sends on every change: what it said last stands.
        if (m_last) readings.push_back(*m_last);
    }
    Handle Fd() const override { return m_port->Fd(); }
    std::string Name() const override { return "udp " + Where() + " radio " + Radio(); }
    std::string State() const override {
        std::string s = m_log.Active(Condition::kSource) ? "lost: no datagram for 30 s"
                        : m_heard                        ? "receiving"
                                                         : "waiting for the first datagram";
        if (m_log.Active(Condition::kBadDatagram)) s += ", some datagrams refused";
        return s;
    }
    std::string NoTransmitState() const override {
        return "the logger's datagrams do not say whether it transmits (no IsTransmitting)";
    }
    std::string TransmitStateBack() const override { return "a datagram says whether it transmits"; }
    bool Lost() const override { return m_log.Active(Condition::kSource); }
    std::string InterlockCaveat() const override {
        return "udp: the logger reports only the transmissions it keys itself (a footswitch or paddle is not "
               "reported), so the interlock cannot hold a switch during those; only a hardware PTT sense could";
    }

private:
    std::string Where() const {
        const UdpSpec& s = m_spec;
        const std::string address = s.address.empty()                          ? "*"
                                    : s.address.find(':') != std::string::npos ? "[" + s.address + "]"
                                                                               : s.address;
        return address + ":" + std::to_string(m_port->Port());
    }
    std::string Radio() const { return std::to_string(m_spec.radio); }
    // Counted, and said at most once a minute while they come; over after a quiet minute.
    void Foreign(const UdpListener::Drained& got, Clock::time_point now) {
        if (got.foreign == 0) {
            if (now - m_lastForeign >= Log::kRemindEvery &&
                m_log.End(Condition::kForeignSender, "no datagrams on " + Where() + " from other senders any more"))
                m_foreign = 0;
            return;
        }
        m_lastForeign = now;
        m_foreign += got.foreign;
        m_log.Begin(Condition::kForeignSender, Log::kWarning,
                    "udp " + Where() + ": dropped " + std::to_string(m_foreign) +
                        " datagrams from senders outside from= (the last from " + got.foreignSender + ")");
    }
    void Refused(const std::string& why, Clock::time_point now) {
        m_lastRefusal = now;
        m_log.Begin(Condition::kBadDatagram, Log::kWarning,
                    "udp " + Where() + ": " + why + "; such datagrams change nothing");
    }

    UdpSpec m_spec;
    std::shared_ptr<SharedPort> m_port;
    SharedPort::Inbox m_inbox;
    Log& m_log;
    SteadyNow m_now;
    Silence m_silence;
    std::optional<Reading> m_last;
    bool m_heard = false;
    std::size_t m_otherRadios = 0;  // since the last reading of ours
    Clock::time_point m_lastRefusal{};
    std::size_t m_foreign = 0;  // since the condition began
    Clock::time_point m_lastForeign{};
};

}  // namespace

std::unique_ptr<Source> MakeUdpSource(const UdpSpec& spec, Log& log, std::string& why, const SteadyNow& now) {
    auto source = std::make_unique<UdpSource>(spec, log, now);
    if (!source->Open(why)) return nullptr;
    return source;
}

}  // namespace kelvane::svc
