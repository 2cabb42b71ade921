#include "linux/poll_loop.h"

#include "core/band_match.h"
#include "core/ctext.h"
#include "core/frequency.h"

namespace kelvane::svc {

const char* InterlockName(Interlock mode) {
    return mode == Interlock::kAuto ? "auto" : mode == Interlock::kOff ? "off" : "required";
}

PollLoop::PollLoop(Source& source, OutputChannel& output, Log& log, Interlock mode, const Station& station)
    : m_source(&source), m_output(&output), m_log(log), m_mode(mode), m_station(station) {}

void PollLoop::SetInterlock(Interlock mode) {
    if (mode == m_mode) return;
    m_mode = mode;
    m_hasTx.reset();
    m_transmitting = false;
    m_log.End(Condition::kNoTransmitState, std::string("interlock now ") + InterlockName(mode));
}

void PollLoop::Follow(Source& source) {
    m_source = &source;
    m_hasTx.reset();
    m_transmitting = false;
}

void PollLoop::PollOnce() {
    m_readings.clear();
    m_source->Read(m_mode != Interlock::kOff, m_readings);
    for (const Reading& reading : m_readings) Take(reading);
}

// Logged when it changes, not per reading: the source may say the same for hours.
void PollLoop::TransmitState(const Reading& reading) {
    if (reading.transmitting) {
        m_transmitting = *reading.transmitting;
        if (m_hasTx == true) return;
        m_hasTx = true;
        const std::string says = "the rig reports its transmit state: no switching while it transmits";
        if (!m_log.End(Condition::kNoTransmitState, says) && !m_txAnnounced) m_log.Info(says);
        m_txAnnounced = true;
        return;
    }
    m_transmitting = false;
    if (m_hasTx == false) return;
    m_hasTx = false;
    const std::string why = m_source->NoTransmitState();
    if (m_mode == Interlock::kRequired) {
        m_log.Begin(Condition::kNoTransmitState, Log::kError,
                    why + " and --interlock required is set: switching is held until " + m_source->TransmitStateBack());
        m_log.End(Condition::kHeldForTransmit, "no transmit state: the change waiting for receive stays held");
    } else {
        m_log.Begin(Condition::kNoTransmitState, Log::kWarning, why + ": switching without the transmit interlock");
        m_log.End(Condition::kHeldForTransmit, "no transmit state: the change waiting for receive is made now");
    }
}

void PollLoop::Take(const Reading& reading) {
    if (m_mode != Interlock::kOff) TransmitState(reading);
    ++m_answered;
    m_hertz = reading.hertz;
    if (!m_auto) return Apply();
    if (const auto antenna = AntennaForReading(m_station.bands, m_station.tables, reading.hertz, true))
        m_wanted = antenna;
    Apply();
}

bool PollLoop::Pick(int antenna) {
    const std::string name = m_station.tables.m_antName[static_cast<std::size_t>(antenna)];
    m_log.Info("antenna " + std::to_string(antenna + 1) + " (" + name + ") picked by hand" +
               (m_auto ? "; Auto off: polls no longer switch" : ""));
    m_auto = false;
    m_wanted = antenna;
    Apply();
    return !m_held && m_output->Wanted() && m_output->Wanted()->antenna == antenna;
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
        if (!transmitting) m_output->Service();
        return;
    }
    const SwitcherTables& t = m_station.tables;
    const auto a = static_cast<std::size_t>(*m_wanted);
    const OutputEvent event{static_cast<std::uint8_t>(t.m_antValue[a] & 0xFFu), *m_wanted, t.m_antName[a]};
    const std::string target = "antenna " + std::to_string(*m_wanted + 1) + " (" + event.name + ")";
    if (m_output->Wanted() == event) {
        m_log.End(Condition::kHeldForTransmit, "back on " + target + ": the held change is no longer wanted");
        if (!transmitting) m_output->Service();
        return;
    }
    if (transmitting) {
        m_held = m_wanted;
        m_log.Begin(Condition::kHeldForTransmit, Log::kInfo,
                    "transmitting: the change to " + target + " waits for receive");
        return;
    }
    m_log.End(Condition::kHeldForTransmit, "receive: the held change to " + target + " is made");
    m_output->Set(event);
}

}  // namespace kelvane::svc
