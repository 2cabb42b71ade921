#include "linux/poll_loop.h"

#include <cmath>

#include "core/band_match.h"
#include "core/ctext.h"
#include "core/frequency.h"

namespace kelvane::svc {

PollLoop::PollLoop(RigLink& link, OutputChannel& output, Log& log, Interlock mode, const Station& station)
    : m_link(link), m_output(output), m_log(log), m_mode(mode), m_station(station) {}

void PollLoop::Reload(const Station& station) { m_station = station; }

void PollLoop::BadReply(Condition condition, const char* command, const Reply& reply) {
    const std::string said = reply.kind == Reply::kReport
                                 ? "RPRT " + std::to_string(reply.report)
                                 : "a bad reply (" + reply.bad + "): \"" + reply.excerpt + "\"";
    m_log.Begin(condition, Log::kWarning,
                std::string("rigctld answered '") + command + "' with " + said + "; such polls change nothing");
}

PollLoop::Step PollLoop::AskFrequency(double& hertz) {
    Reply reply;
    if (!m_link.Ask("f", reply)) return Step::kStop;
    if (reply.kind == Reply::kNumber && reply.number < 0) {
        reply.kind = Reply::kBad;
        reply.bad = "negative frequency";
        // ParseReply let no more than kMaxWholeDigits through: the cast is defined.
        reply.excerpt = std::to_string(static_cast<long long>(reply.number));
    }
    if (reply.kind != Reply::kNumber) {
        BadReply(Condition::kBadReplyF, "f", reply);
        return Step::kStop;
    }
    m_log.End(Condition::kBadReplyF, "rigctld answers 'f' with a frequency again");
    hertz = reply.number;
    return Step::kGo;
}

// "Not available" ends the question for this connection even after numbers:
// rigctld may answer from a cache for a while before it says what the rig has.
void PollLoop::NoTransmitState(int report) {
    const bool hadOne = m_hasTx == true;
    m_hasTx = false;
    m_transmitting = false;
    const std::string why = "the rig has no transmit state ('t' answered RPRT " + std::to_string(report) +
                            (hadOne ? " after reporting one" : "") + ")";
    if (m_mode == Interlock::kRequired) {
        m_log.Begin(Condition::kNoTransmitState, Log::kError,
                    why +
                        " and --interlock required is set: switching is held until a new connection to rigctld "
                        "reports a transmit state");
        m_log.End(Condition::kHeldForTransmit, "no transmit state: the change waiting for receive stays held");
    } else {
        m_log.Begin(Condition::kNoTransmitState, Log::kWarning, why + ": switching without the transmit interlock");
        m_log.End(Condition::kHeldForTransmit, "no transmit state: the change waiting for receive is made now");
    }
}

PollLoop::Step PollLoop::AskTransmit() {
    if (m_link.ConnectionNumber() != m_decidedFor) {
        m_decidedFor = m_link.ConnectionNumber();
        m_hasTx.reset();
        m_transmitting = false;
    }
    if (m_hasTx == false) return Step::kGo;
    Reply reply;
    if (!m_link.Ask("t", reply)) return Step::kStop;
    if (reply.kind == Reply::kNumber && reply.number >= 0 && reply.number == std::floor(reply.number)) {
        m_log.End(Condition::kBadReplyT, "rigctld answers 't' with a transmit state again");
        m_transmitting = reply.number != 0;
        if (!m_hasTx) {
            m_hasTx = true;
            const std::string says = "the rig reports its transmit state: no switching while it transmits";
            if (!m_log.End(Condition::kNoTransmitState, says) && !m_txAnnounced) m_log.Info(says);
            m_txAnnounced = true;
        }
        return Step::kGo;
    }
    if (reply.kind == Reply::kReport && IsNotAvailable(reply.report)) {
        m_log.End(Condition::kBadReplyT, "rigctld answers 't' again");
        NoTransmitState(reply.report);
        return Step::kGo;
    }
    BadReply(Condition::kBadReplyT, "t",
             reply.kind == Reply::kNumber ? Reply{Reply::kBad, 0, 0, "not a transmit state", ""} : reply);
    return Step::kStop;
}

void PollLoop::PollOnce() {
    if (!m_link.EnsureConnected()) return;
    double hertz = 0;
    if (AskFrequency(hertz) == Step::kStop) return;
    if (m_mode != Interlock::kOff && AskTransmit() == Step::kStop) return;
    ++m_answered;
    m_hertz = hertz;
    if (!m_auto) return Apply();
    if (const auto antenna = AntennaForReading(m_station.bands, m_station.tables, hertz, true)) m_wanted = antenna;
    Apply();
}

bool PollLoop::Pick(int antenna) {
    const std::string name = m_station.tables.m_antName[static_cast<std::size_t>(antenna)];
    m_log.Info("antenna " + std::to_string(antenna + 1) + " (" + name + ") picked by hand" +
               (m_auto ? "; Auto off: polls no longer switch" : ""));
    m_auto = false;
    m_wanted = antenna;
    Apply();
    return !m_held && m_output.Wanted() && m_output.Wanted()->antenna == antenna;
}

void PollLoop::SetAuto(bool on) {
    if (on == m_auto) return;
    m_auto = on;
    m_log.Info(on ? "Auto on: switching by the rig's band again" : "Auto off: polls no longer switch");
    if (!on || !m_hertz) return;
    if (const auto antenna = AntennaForReading(m_station.bands, m_station.tables, *m_hertz, true)) m_wanted = antenna;
    Apply();
}

PollLoop::View PollLoop::State() const {
    View v{m_hertz, std::nullopt, {}, m_auto, m_held};
    if (m_hertz)
        if (const auto text = HostFrequencyText(*m_hertz, true))
            if (const auto bands = MatchingBands(m_station.bands, CAtof(*text)); !bands.empty()) {
                v.band = bands.back();
                v.bandName = m_station.bands.name[static_cast<std::size_t>(bands.back())];
            }
    return v;
}

void PollLoop::Apply() {
    m_held.reset();
    if (m_mode == Interlock::kRequired && m_hasTx != true) {
        m_log.Still(Condition::kNoTransmitState);
        return;
    }
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
    const std::string target = "antenna " + std::to_string(*m_wanted + 1) + " (" + event.name + ")";
    if (m_output.Wanted() == event) {
        m_log.End(Condition::kHeldForTransmit, "back on " + target + ": the held change is no longer wanted");
        if (!transmitting) m_output.Service();
        return;
    }
    if (transmitting) {
        m_held = m_wanted;
        m_log.Begin(Condition::kHeldForTransmit, Log::kInfo,
                    "transmitting: the change to " + target + " waits for receive");
        return;
    }
    m_log.End(Condition::kHeldForTransmit, "receive: the held change to " + target + " is made");
    m_output.Set(event);
}

}  // namespace kelvane::svc
