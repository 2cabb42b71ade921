#include "linux/poll_loop.h"

#include <cmath>

#include "core/band_match.h"

namespace kelvane::svc {

PollLoop::PollLoop(RigLink& link, OutputChannel& output, Log& log, Interlock mode, const Station& station)
    : m_link(link), m_output(output), m_log(log), m_mode(mode), m_station(station) {}

void PollLoop::Reload(const Station& station) { m_station = station; }

void PollLoop::BadReply(const char* command, const Reply& reply) {
    m_log.Once(std::string("bad:") + command + ":" + reply.bad, Log::kWarning,
               std::string("rigctld answered '") + command + "' with a bad reply (" + reply.bad + "): \"" +
                   reply.excerpt + "\"; such polls change nothing");
}

PollLoop::Step PollLoop::AskFrequency(double& hertz) {
    Reply reply;
    if (!m_link.Ask("f", reply)) return Step::kStop;
    if (reply.kind == Reply::kReport) {
        m_log.Once("report:f:" + std::to_string(reply.report), Log::kWarning,
                   "rigctld answered 'f' with RPRT " + std::to_string(reply.report) + "; such polls change nothing");
        return Step::kStop;
    }
    if (reply.kind == Reply::kNumber && reply.number < 0) {
        reply.kind = Reply::kBad;
        reply.bad = "negative frequency";
        reply.excerpt = std::to_string(static_cast<long long>(reply.number));
    }
    if (reply.kind == Reply::kBad) {
        BadReply("f", reply);
        return Step::kStop;
    }
    hertz = reply.number;
    return Step::kGo;
}

PollLoop::Step PollLoop::AskTransmit() {
    if (m_link.ConnectionNumber() != m_decidedFor) {
        m_hasTx.reset();
        m_transmitting = false;
    }
    if (m_hasTx == false) return Step::kGo;
    Reply reply;
    if (!m_link.Ask("t", reply)) return Step::kStop;
    const bool first = !m_hasTx.has_value();
    if (reply.kind == Reply::kNumber && reply.number >= 0 && reply.number == std::floor(reply.number)) {
        m_transmitting = reply.number != 0;
        if (first) {
            m_hasTx = true;
            m_decidedFor = m_link.ConnectionNumber();
            m_log.ClearPrefix("no-tx:");
            m_log.Once("tx:on", Log::kInfo, "the rig reports its transmit state: no switching while it transmits");
        }
        return Step::kGo;
    }
    if (first && reply.kind == Reply::kReport && IsNotAvailable(reply.report)) {
        m_hasTx = false;
        m_decidedFor = m_link.ConnectionNumber();
        m_log.Clear("tx:on");
        if (m_mode == Interlock::kRequired)
            m_log.Once("no-tx:required", Log::kError,
                       "the rig has no transmit state ('t' answered RPRT " + std::to_string(reply.report) +
                           ") and --interlock required is set: the output will not change");
        else
            m_log.Once("no-tx:auto", Log::kWarning,
                       "the rig has no transmit state ('t' answered RPRT " + std::to_string(reply.report) +
                           "): switching without the transmit interlock");
        return Step::kGo;
    }
    if (reply.kind == Reply::kReport)
        m_log.Once("report:t:" + std::to_string(reply.report), Log::kWarning,
                   "rigctld answered 't' with RPRT " + std::to_string(reply.report) + "; such polls change nothing");
    else
        BadReply("t", reply.kind == Reply::kBad ? reply : Reply{Reply::kBad, 0, 0, "not a transmit state", ""});
    return Step::kStop;
}

void PollLoop::PollOnce() {
    if (!m_link.EnsureConnected()) return;
    double hertz = 0;
    if (AskFrequency(hertz) == Step::kStop) return;
    if (m_mode != Interlock::kOff && AskTransmit() == Step::kStop) return;
    ++m_answered;
    if (const auto antenna = AntennaForReading(m_station.bands, m_station.tables, hertz, true)) m_wanted = antenna;
    Apply();
}

void PollLoop::Apply() {
    if (m_mode == Interlock::kRequired && m_hasTx != true) return;
    const bool transmitting = m_hasTx == true && m_transmitting;
    // Only on receive: a board that comes back (powered up with its relays
    // released) gets its byte again, and that too is a switch. When the byte
    // changes, Set brings it back with the new byte only.
    if (!m_wanted) {
        if (!transmitting) m_output.Service();
        return;
    }
    const SwitcherTables& t = m_station.tables;
    const auto a = static_cast<std::size_t>(*m_wanted);
    const OutputEvent event{static_cast<std::uint8_t>(t.m_antValue[a] & 0xFFu), *m_wanted, t.m_antName[a]};
    if (m_output.Wanted() == event) {
        if (transmitting) return;
        m_output.Service();
        m_log.Clear("held");
        return;
    }
    if (transmitting) {
        m_log.Once("held", Log::kInfo,
                   "transmitting: the change to antenna " + std::to_string(*m_wanted + 1) + " (" + event.name +
                       ") waits for receive");
        return;
    }
    if (m_log.Clear("held"))
        m_log.Info("receive: antenna " + std::to_string(*m_wanted + 1) + " (" + event.name +
                   ") switched after transmit");
    m_output.Set(event);
}

}  // namespace kelvane::svc
