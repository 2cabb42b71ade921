#pragma once
// One round: take what the source says (a frequency, and the transmit state
// unless the interlock is off), pick the antenna by the band rules, and switch
// the output unless the rig transmits. A round in which the source said nothing
// to act on changes nothing. The loop never knows which source it follows.
// Radios that share antennas each have a loop, seated at one switchboard: a
// loop takes an antenna from the board only at its own receive reading.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "service/base/log.h"
#include "service/base/pick.h"
#include "service/station/output.h"
#include "service/sources/source.h"
#include "service/config/station_file.h"
#include "service/station/switchboard.h"

namespace kelvane::svc {

enum class Interlock { kAuto, kOff, kRequired };
const char* InterlockName(Interlock mode);

// Where a loop sits among radios sharing antennas; no board: a radio of its own.
struct Seat {
    Switchboard* board = nullptr;
    std::size_t index = 0;
    std::optional<int> inhibit;  // the output line (1-8) set while the radio has no antenna
};

class PollLoop {
public:
    PollLoop(Source& source, OutputChannel& output, Log& log, Interlock mode, const Station& station, Seat seat = {});

    // Reads the source once and acts on each reading in order.
    void PollOnce();
    // SIGHUP: the next reading switches by the new tables, mode, source or output.
    void Reload(const Station& station) { m_station = station; }
    void SetInterlock(Interlock mode);
    // A new source: whether it has a transmit state is not known until it says.
    void Follow(Source& source);
    void Drive(OutputChannel& output) { m_output = &output; }
    // A new inhibit line is written at the next receive reading that finds the radio without an antenna.
    void SetInhibit(std::optional<int> line) { m_seat.inhibit = line; }

    // Whether the source gives a transmit state; nothing until its first reading
    // (and always with the interlock off).
    std::optional<bool> HasTransmitState() const { return m_hasTx; }
    // --interlock required without a transmit state: nothing is switched.
    bool SwitchingHeld() const { return m_mode == Interlock::kRequired && m_hasTx == false; }
    bool Transmitting() const { return m_transmitting; }
    // Readings acted on.
    std::uint64_t AnsweredPolls() const { return m_answered; }

    // Manual control, as the Windows program has it. A pick turns Auto off, so
    // polls no longer switch until Auto is on again; like a band change it
    // waits for receive while the rig transmits. An antenna another radio
    // holds is refused, and nothing changes.
    Picked Pick(int antenna);
    // Auto back on follows the last reading at once.
    void SetAuto(bool on);
    struct View {
        std::optional<double> hertz;  // the last reading
        std::optional<int> band;      // the band that reading is in (the last matching one)
        std::string bandName;
        bool automatic = true;
        std::optional<int> held;   // the antenna waiting for receive
        std::vector<int> choices;  // the band's antennas in order, as the lockout sees them
        std::optional<std::string> blockedBy;
    };
    View State() const;

private:
    void Take(const Reading& reading);
    void TransmitState(const Reading& reading);
    void Apply();
    void Choose(double hertz);
    OutputEvent EventFor(const std::optional<int>& antenna) const;
    void Shared(const LockoutGrant& grant, const std::string& target);

    Source* m_source;
    OutputChannel* m_output;
    Log& m_log;
    Interlock m_mode;
    Station m_station;
    std::vector<Reading> m_readings;
    bool m_txAnnounced = false;
    std::optional<bool> m_hasTx;
    bool m_transmitting = false;
    std::optional<std::vector<int>> m_choices;  // of the last frequency inside a band, or the pick
    std::uint64_t m_answered = 0;
    bool m_auto = true;
    std::optional<double> m_hertz;
    std::optional<int> m_held;
    std::optional<Switchboard> m_ownBoard;
    Switchboard* m_board;
    Seat m_seat;
};

}  // namespace kelvane::svc
