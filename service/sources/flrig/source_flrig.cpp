// flrig, polled over XML-RPC: rig.get_vfo, then rig.get_ptt unless the
// interlock is off. A reply that is not flrig's (kBad) changes nothing and
// keeps the connection; no reply (kDown) is the link lost.
#include "service/sources/source.h"
#include "service/sources/flrig/flrig_client.h"

namespace kelvane::svc {
namespace {

class FlrigSource final : public Source {
public:
    FlrigSource(const Endpoint& where, Log& log) : m_client(FlrigOptions{where}), m_log(log) {}

    void Read(bool transmit, std::vector<Reading>& readings) override {
        if (m_client.BackingOff()) return;
        Reading reading;
        FlrigAnswer answer = m_client.Frequency();
        if (!Took(answer, Condition::kBadFrequency, "rig.get_vfo")) return;
        reading.hertz = static_cast<double>(answer.value);
        if (transmit) {
            answer = m_client.Ptt();
            if (!Took(answer, Condition::kBadTransmit, "rig.get_ptt")) return;
            reading.transmitting = answer.value != 0;
        }
        readings.push_back(reading);
    }
    std::string Name() const override { return "flrig " + m_client.Where(); }
    std::string State() const override {
        if (m_client.Down()) return m_client.ConnectionNumber() > 0 ? "lost, reconnecting" : "not reached, retrying";
        if (m_log.Active(Condition::kBadFrequency) || m_log.Active(Condition::kBadTransmit))
            return "connected, its replies not understood";
        return "connected";
    }
    // rig.get_ptt always answers; a reading without a transmit state only comes with the interlock off.
    std::string NoTransmitState() const override { return "flrig was not asked for rig.get_ptt"; }
    std::string TransmitStateBack() const override { return "flrig answers rig.get_ptt"; }
    bool Lost() const override { return m_client.Down(); }

private:
    bool Took(const FlrigAnswer& answer, Condition condition, const char* method) {
        if (answer.kind == FlrigAnswer::kDown) {
            m_log.Begin(
                Condition::kSource, Log::kWarning,
                "flrig at " + m_client.Where() + ": " + answer.why + "; reconnecting, the output keeps its state");
            return false;
        }
        if (m_client.ConnectionNumber() == 1 && !m_announced) m_log.Info("connected to flrig at " + m_client.Where());
        m_announced = true;
        m_log.End(Condition::kSource, "flrig at " + m_client.Where() + " answers again");
        if (answer.kind == FlrigAnswer::kBad) {
            m_log.Begin(condition, Log::kWarning,
                        "flrig at " + m_client.Where() + ": " + answer.why + "; such polls change nothing");
            return false;
        }
        m_log.End(condition, std::string("flrig answers ") + method + " again");
        return true;
    }

    FlrigClient m_client;
    Log& m_log;
    bool m_announced = false;
};

}  // namespace

std::unique_ptr<Source> MakeFlrigSource(const Endpoint& where, Log& log) {
    return std::make_unique<FlrigSource>(where, log);
}

}  // namespace kelvane::svc
