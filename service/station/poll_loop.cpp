#include "service/station/poll_loop.h"

#include "core/band_match.h"
#include "core/ctext.h"
#include "core/frequency.h"
#include "core/lockout.h"

namespace kelvane::svc {

const char* InterlockName(Interlock mode) {
    return mode == Interlock::kAuto ? "auto" : mode == Interlock::kOff ? "off" : "required";
}

PollLoop::PollLoop(Source& source, OutputChannel& output, Log& log, Interlock mode,
                   std::shared_ptr<const Station> station, Seat seat)
    : m_source(&source),
      m_output(&output),
      m_log(log),
      m_mode(mode),
      m_stationCopy(std::move(station)),
      m_station(*m_stationCopy),
      m_seat(seat) {
    if (!m_seat.board) m_seat = {&m_ownBoard.emplace(std::vector<std::string>{""}), 0, m_seat.inhibit};
    m_board = m_seat.board;
    TakeFound();
}

void PollLoop::SetInterlock(Interlock mode) {
    if (mode == m_mode) return;
    // With the interlock off the source was not asked: nothing is known.
    if (m_mode == Interlock::kOff) m_tx.reset(), m_read = false;
    m_mode = mode;
    m_hasTx.reset();
    m_log.End(Condition::kNoTransmitState, std::string("interlock now ") + InterlockName(mode));
}

void PollLoop::Follow(Source& source) {
    m_source = &source;
    m_hasTx.reset();
    m_tx.reset();
    m_read = false;
    m_lost = false;
}

// What the device holds at open counts as held: latching relays keep a radio
// on its antenna across a restart. A byte no antenna has, or a device that
// cannot tell, may be any antenna until the radio's first confirmed write.
void PollLoop::TakeFound() {
    const auto& found = m_output->Found();
    std::vector<int> antennas;
    if (!found || (*found != 0 && *found != EventFor(std::nullopt).byte)) {
        for (int a = 0; a < kAntennaCount; ++a)
            if (found && (m_station.tables.m_antValue[static_cast<std::size_t>(a)] & 0xFFu) == *found)
                antennas.push_back(a);
        m_cannotTell = antennas.size() != 1;
        if (antennas.empty())
            for (int a = 0; a < kAntennaCount; ++a) antennas.push_back(a);
    }
    m_board->Found(m_seat.index, antennas);
}

void PollLoop::Drive(OutputChannel& output) {
    m_output = &output;
    TakeFound();
}

void PollLoop::Confirm() {
    if (m_output->Pending() || !m_output->LastWritten()) return;
    const int antenna = m_output->LastWritten()->antenna;
    m_board->Confirm(m_seat.index, antenna < 0 ? std::nullopt : std::optional<int>(antenna));
    m_cannotTell = false;
}

bool PollLoop::Release() {
    // Nothing of ours was ever on a device that never opened: what it holds stays unsure.
    if (!m_output->DeviceOpen() && !m_output->LastWritten()) return true;
    NoteLost();
    if (!MayChange()) return false;
    m_output->Set({0, -1, "none"});
    Confirm();
    return !m_output->Pending();
}

void PollLoop::NoteLost() {
    if (m_lost || !m_source->Lost()) return;
    m_lost = true;
    if (!m_tx) return;
    m_tx.reset();
    if (Gated()) m_log.Info("the source is lost: transmit state unknown");
}

void PollLoop::PollOnce() {
    m_readings.clear();
    m_source->Read(m_mode != Interlock::kOff, m_readings);
    for (const Reading& reading : m_readings) Take(reading);
    if (m_readings.empty()) NoteLost();
}

// Logged when it changes, not per reading: the source may say the same for hours.
void PollLoop::TransmitState(const Reading& reading) {
    if (reading.transmitting) {
        m_tx = *reading.transmitting;
        if (m_hasTx == true) return;
        m_hasTx = true;
        const std::string says = "the rig reports its transmit state: no switching while it transmits";
        if (!m_log.End(Condition::kNoTransmitState, says) && !m_txAnnounced) m_log.Info(says);
        m_txAnnounced = true;
        return;
    }
    m_tx.reset();
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
    m_read = true;
    m_lost = false;
    if (m_mode != Interlock::kOff) TransmitState(reading);
    ++m_answered;
    m_hertz = reading.hertz;
    if (m_auto) Choose(reading.hertz);
    Apply();
}

void PollLoop::Choose(double hertz) {
    if (auto choices = ChoicesForReading(m_station.bands, m_station.tables, m_board->alternates(), hertz))
        m_choices = std::move(choices);
}

Picked PollLoop::Pick(int antenna) {
    const std::string name = m_station.tables.m_antName[static_cast<std::size_t>(antenna)];
    const std::string what = "antenna " + std::to_string(antenna + 1) + " (" + name + ")";
    if (const auto holder = m_board->HolderOf(antenna, m_seat.index)) {
        m_log.Info(what + " picked by hand is held by radio " + m_board->Name(*holder) + "; nothing changed");
        return Picked::kTaken;
    }
    m_log.Info(what + " picked by hand" + (m_auto ? "; Auto off: polls no longer switch" : ""));
    m_auto = false;
    m_choices = std::vector<int>{antenna};
    Apply();
    if (m_held || !MayChange()) return Picked::kHeld;
    const auto& written = m_output->LastWritten();
    const bool confirmed = !m_output->Pending() && written && written->antenna == antenna;
    return confirmed ? Picked::kMade : Picked::kPending;
}

void PollLoop::SetAuto(bool on) {
    if (on == m_auto) return;
    m_auto = on;
    m_log.Info(on ? "Auto on: switching by the rig's band again" : "Auto off: polls no longer switch");
    if (!on || !m_hertz) return;
    Choose(*m_hertz);
    Apply();
}

PollLoop::View PollLoop::State() const {
    View v{m_hertz, std::nullopt, {}, m_auto, m_held, m_heldWhy, m_choices.value_or(std::vector<int>{}), std::nullopt};
    if (const auto by = m_board->BlockedBy(m_seat.index)) v.blockedBy = m_board->Name(*by);
    if (m_hertz)
        if (const auto text = HostFrequencyText(*m_hertz, true))
            if (const auto bands = MatchingBands(m_station.bands, CAtof(*text)); !bands.empty()) {
                v.band = bands.back();
                v.bandName = m_station.bands.name[static_cast<std::size_t>(bands.back())];
            }
    return v;
}

// No antenna: only the inhibit line, so the radio cannot transmit into nothing.
OutputEvent PollLoop::EventFor(const std::optional<int>& antenna) const {
    if (!antenna) return {static_cast<std::uint8_t>(m_seat.inhibit ? 1u << (*m_seat.inhibit - 1) : 0u), -1, "none"};
    const SwitcherTables& t = m_station.tables;
    const auto a = static_cast<std::size_t>(*antenna);
    return {static_cast<std::uint8_t>(t.m_antValue[a] & 0xFFu), *antenna, t.m_antName[a]};
}

std::string PollLoop::WaitsFor() const {
    if (m_tx == true) return "transmitting";
    return m_read ? "transmit state unknown: waits: source lost"
                  : "transmit state unknown: waits for the first reading";
}

void PollLoop::Apply() {
    m_held.reset();
    m_heldWhy.clear();
    NoteLost();
    if (m_mode == Interlock::kRequired && m_hasTx != true && m_read) {
        m_log.Still(Condition::kNoTransmitState);
        return;
    }
    const bool transmitting = !MayChange();
    // Only on receive: a board that comes back (powered up with its relays
    // released) gets its byte again, and that too is a switch. When the byte
    // changes, Set brings it back with the new byte only. A device that could
    // not say what it holds is given no antenna, so the others may have theirs.
    if (!m_choices) {
        if (transmitting) return;
        if (m_cannotTell && m_board->Count() > 1 && !m_output->LastWritten()) m_output->Set(EventFor(std::nullopt));
        m_output->Service();
        Confirm();
        return;
    }
    // The board is asked only on receive: what a transmitting radio holds stays its own.
    const LockoutGrant grant =
        transmitting ? m_board->Preview(m_seat.index, *m_choices) : m_board->Claim(m_seat.index, *m_choices);
    const OutputEvent event = EventFor(grant.antenna);
    const std::string target = grant.antenna ? "antenna " + std::to_string(*grant.antenna + 1) + " (" + event.name + ")"
                                             : std::string("no antenna");
    if (m_output->Wanted() == event) {
        m_log.End(Condition::kHeldForTransmit, "back on " + target + ": the held change is no longer wanted");
        if (!grant.antenna && !transmitting) Shared(grant, target);  // still blocked: a reminder, with the holder now
        if (!transmitting) m_output->Service(), Confirm();
        return;
    }
    if (transmitting) {
        m_held = grant.antenna;
        m_heldWhy = WaitsFor();
        m_log.Begin(Condition::kHeldForTransmit, Log::kInfo,
                    m_heldWhy + (m_tx ? ": the change to " + target + " waits for receive"
                                      : "; the change to " + target + " is made at the first reading of receive"));
        return;
    }
    m_log.End(Condition::kHeldForTransmit, "receive: the held change to " + target + " is made");
    Shared(grant, target);
    m_output->Set(event);
    Confirm();
}

// Only with radios sharing antennas: why a radio is not on its first choice.
void PollLoop::Shared(const LockoutGrant& grant, const std::string& target) {
    if (m_board->Count() < 2) return;
    const int first = m_choices->front();
    const std::string firstText = "antenna " + std::to_string(first + 1) + " (" +
                                  m_station.tables.m_antName[static_cast<std::size_t>(first)] + ")";
    const auto holder = m_board->HolderOf(first, m_seat.index);
    const std::string by = holder ? " is held by radio " + m_board->Name(*holder) : " is being released";
    if (grant.antenna) {
        m_log.End(Condition::kBlocked, "an antenna is free again: " + target);
        if (*grant.antenna != first) m_log.Info(target + ": the first choice, " + firstText + by);
        return;
    }
    std::string inhibit;
    if (m_seat.inhibit) inhibit = " (inhibit line " + std::to_string(*m_seat.inhibit) + " set)";
    m_log.Begin(Condition::kBlocked, Log::kWarning,
                "blocked: every antenna of the band is held by another radio (" + firstText + by + "); no antenna" +
                    inhibit + " until one frees");
}

}  // namespace kelvane::svc
