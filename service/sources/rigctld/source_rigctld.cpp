// rigctld, polled: 'f', then 't' while the rig has a transmit state on this
// connection. "Not available" to 't' (first, or after numbers) means none
// until a new connection: rigctld may answer from a cache for a while before
// it says what the rig has.
#include <cmath>

#include "service/sources/rigctld/rigctld_link.h"
#include "service/sources/source.h"

namespace kelvane::svc {
namespace {

class RigctldSource final : public Source {
public:
    RigctldSource(LinkOptions options, Log& log)
        : m_where(options.endpoint), m_link(std::move(options), log), m_log(log) {}

    void Read(bool transmit, std::vector<Reading>& readings) override {
        m_link.StartExchange();
        if (!m_link.EnsureConnected()) return;
        Reading reading;
        if (!AskFrequency(reading.hertz)) return;
        if (transmit && !AskTransmit(reading.transmitting)) return;
        readings.push_back(reading);
    }
    std::string Name() const override { return "rigctld " + m_where.host + ":" + m_where.port; }
    std::string State() const override {
        if (!m_link.Connected()) return m_link.EverConnected() ? "lost, reconnecting" : "not reached, retrying";
        if (m_log.Active(Condition::kBadFrequency) || m_log.Active(Condition::kBadTransmit))
            return "connected, its replies not understood";
        return "connected";
    }
    std::string NoTransmitState() const override {
        return "the rig has no transmit state ('t' answered RPRT " + std::to_string(m_report) +
               (m_hadOne ? " after reporting one" : "") + ")";
    }
    std::string TransmitStateBack() const override { return "a new connection to rigctld reports a transmit state"; }
    bool Lost() const override { return !m_link.Connected(); }

private:
    void BadReply(Condition condition, const char* command, const Reply& reply) {
        const std::string said = reply.kind == Reply::kReport
                                     ? "RPRT " + std::to_string(reply.report)
                                     : "a bad reply (" + reply.bad + "): \"" + reply.excerpt + "\"";
        m_log.Begin(condition, Log::kWarning,
                    std::string("rigctld answered '") + command + "' with " + said + "; such polls change nothing");
    }

    bool AskFrequency(double& hertz) {
        Reply reply;
        if (!m_link.Ask("f", reply)) return false;
        if (reply.kind == Reply::kNumber && reply.number < 0) {
            reply.kind = Reply::kBad;
            reply.bad = "negative frequency";
            // ParseReply let no more than kMaxWholeDigits through: the cast is defined.
            reply.excerpt = std::to_string(static_cast<long long>(reply.number));
        }
        if (reply.kind != Reply::kNumber) {
            BadReply(Condition::kBadFrequency, "f", reply);
            return false;
        }
        m_log.End(Condition::kBadFrequency, "rigctld answers 'f' with a frequency again");
        hertz = reply.number;
        return true;
    }

    bool AskTransmit(std::optional<bool>& transmitting) {
        if (m_link.ConnectionNumber() != m_decidedFor) {
            m_decidedFor = m_link.ConnectionNumber();
            m_hasTx.reset();
        }
        if (m_hasTx == false) return true;
        Reply reply;
        if (!m_link.Ask("t", reply)) return false;
        if (reply.kind == Reply::kNumber && reply.number >= 0 && reply.number == std::floor(reply.number)) {
            m_log.End(Condition::kBadTransmit, "rigctld answers 't' with a transmit state again");
            m_hasTx = true;
            transmitting = reply.number != 0;
            return true;
        }
        if (reply.kind == Reply::kReport && IsNotAvailable(reply.report)) {
            m_log.End(Condition::kBadTransmit, "rigctld answers 't' again");
            m_hadOne = m_hasTx == true;
            m_report = reply.report;
            m_hasTx = false;
            return true;
        }
        BadReply(Condition::kBadTransmit, "t",
                 reply.kind == Reply::kNumber ? Reply{Reply::kBad, 0, 0, "not a transmit state", ""} : reply);
        return false;
    }

    Endpoint m_where;
    RigLink m_link;
    Log& m_log;
    std::uint64_t m_decidedFor = 0;  // the connection m_hasTx belongs to
    std::optional<bool> m_hasTx;
    bool m_hadOne = false;
    int m_report = 0;
};

}  // namespace

std::unique_ptr<Source> MakeRigctldSource(LinkOptions options, Log& log) {
    return std::make_unique<RigctldSource>(std::move(options), log);
}

}  // namespace kelvane::svc
