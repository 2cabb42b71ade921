// Readings another kelvane (or anything else) publishes on a topic: objects
// with frequency_hz and transmitting, as a station bus's radio state. Pushed,
// like RadioInfo: lost after 30 s without one, or at once when the publishing
// station's status says offline or its own transmit state is unknown.
#include <nlohmann/json.hpp>

#include "service/base/text.h"
#include "service/sources/source.h"

namespace kelvane::svc {
namespace {

constexpr std::size_t kMaxMessage = 4096;

// kelvane/STATION/radio/R/state is watched with kelvane/STATION/status.
std::string StatusTopicOf(const std::string& topic) {
    const std::size_t radio = topic.rfind("/radio/");
    return radio == std::string::npos ? std::string() : topic.substr(0, radio) + "/status";
}

class MqttSource final : public Source {
public:
    MqttSource(const SourceSpec& spec, Log& log, SteadyNow now)
        : m_topic(spec.topic),
          m_status(StatusTopicOf(spec.topic)),
          m_link(LinkSetup{*spec.broker, {}, std::nullopt, {spec.topic, StatusTopicOf(spec.topic)}}),
          m_log(log),
          m_now(std::move(now)),
          m_silence(m_now()) {}

    bool Open(std::string& why) { return m_link.Start(why); }

    void Read(bool, std::vector<Reading>& readings) override {
        Link::Taken taken = m_link.Take();
        const auto now = m_now();
        std::optional<Reading> fresh;
        for (const Link::Message& m : taken.messages) {
            if (m.topic == m_status) {
                m_offline = m.payload == "offline";
                continue;
            }
            std::string why;
            std::optional<Reading> reading;
            if (!Parse(m.payload, reading, why)) {
                m_log.Begin(Condition::kBadDatagram, Log::kWarning,
                            "mqtt " + m_topic + ": refused a message (" + why + "); such messages change nothing");
                m_lastRefusal = now;
                continue;
            }
            m_silence.Heard(now);
            m_heard = true;
            m_remoteUnknown = !reading;
            fresh = reading;
        }
        if (now - m_lastRefusal >= Silence::kLimit / 3)
            m_log.End(Condition::kBadDatagram, "messages on " + m_topic + " are read again");
        if (m_offline || m_remoteUnknown || m_silence.Lost(now)) {
            m_log.Begin(Condition::kSource, Log::kWarning,
                        "mqtt " + m_topic + ": " + LostWhy() + ": the source is lost, the output keeps its state");
            return;
        }
        if (fresh) m_last = fresh;
        if (m_last) m_log.End(Condition::kSource, "mqtt " + m_topic + ": readings arrive again");
        if (m_last) readings.push_back(*m_last);
    }
    Handle Fd() const override { return m_link.WakeHandle(); }
    std::string Name() const override { return "mqtt " + m_topic; }
    std::string State() const override {
        return m_log.Active(Condition::kSource) ? "lost: " + LostWhy()
               : m_heard                        ? "receiving"
                                                : "waiting for the first message";
    }
    std::string NoTransmitState() const override { return "the messages on " + m_topic + " do not say transmitting"; }
    std::string TransmitStateBack() const override { return "a message says whether it transmits"; }
    bool Lost() const override { return m_log.Active(Condition::kSource); }

private:
    std::string LostWhy() const {
        return m_offline         ? "its station is offline"
               : m_remoteUnknown ? "its own transmit state is unknown there"
                                 : "no message for " + SpokenDuration(Silence::kLimit);
    }
    // False for a message that is none; true with nothing when it says the state is unknown.
    static bool Parse(const std::string& payload, std::optional<Reading>& out, std::string& why) {
        if (payload.size() > kMaxMessage) return why = "over 4 KiB", false;
        if (!IsUtf8(payload)) return why = "not UTF-8 text", false;
        const nlohmann::json doc = nlohmann::json::parse(payload, nullptr, false);
        if (!doc.is_object()) return why = "not a JSON object", false;
        const auto hz = doc.find("frequency_hz");
        const auto tx = doc.find("transmitting");
        if (hz == doc.end() || (!hz->is_number() && !hz->is_null())) return why = "no frequency_hz", false;
        if (tx != doc.end() && !tx->is_boolean()) return why = "transmitting is not true or false", false;
        if (hz->is_null() || doc.value("transmit_known", true) == false) return true;
        out = Reading{hz->get<double>(), tx == doc.end() ? std::nullopt : std::optional(tx->get<bool>())};
        return true;
    }

    std::string m_topic, m_status;
    Link m_link;
    Log& m_log;
    SteadyNow m_now;
    Silence m_silence;
    std::optional<Reading> m_last;
    bool m_heard = false, m_offline = false, m_remoteUnknown = false;
    std::chrono::steady_clock::time_point m_lastRefusal{};
};

}  // namespace

std::unique_ptr<Source> MakeMqttSource(const SourceSpec& spec, Log& log, std::string& why, const SteadyNow& now) {
    if (!spec.broker) return why = "mqtt:" + spec.topic + " needs the mqtt option: the broker to read it from", nullptr;
    auto source = std::make_unique<MqttSource>(spec, log, now);
    if (!source->Open(why)) return nullptr;
    return source;
}

}  // namespace kelvane::svc
