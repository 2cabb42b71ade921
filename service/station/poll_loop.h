#pragma once
// One round: take what the source says (a frequency, and the transmit state
// unless the interlock is off), pick the antenna by the band rules, and switch
// the output unless the rig transmits. A round in which the source said nothing
// to act on changes nothing. The loop never knows which source it follows.
// Radios that share antennas each have a loop, seated at one switchboard: a
// loop takes an antenna from the board only at its own receive reading.
// The transmit state is transmitting, receive or unknown: unknown until the
// source's first reading and while it is lost. Unknown holds a change as
// transmitting does, unless the source is known to give no transmit state
// (then the interlock mode decides, as it always has).

#include <cstdint>
#include <memory>
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
    // The station's one copy of the tables, shared with the service; a
    // station given by value is the loop's own.
    PollLoop(Source& source, OutputChannel& output, Log& log, Interlock mode, std::shared_ptr<const Station> station,
             Seat seat = {});
    PollLoop(Source& source, OutputChannel& output, Log& log, Interlock mode, const Station& station, Seat seat = {})
        : PollLoop(source, output, log, mode, std::make_shared<const Station>(station), seat) {}

    // Reads the source once and acts on each reading in order.
    void PollOnce();
    // SIGHUP: the next reading switches by the new mode, source or output;
    // the transmit state stays what it was unless the interlock was off.
    void SetInterlock(Interlock mode);
    // A new source: its transmit state is unknown until it says.
    void Follow(Source& source);
    // At receive: no antenna written to the output, so that it may be closed;
    // false while that cannot be done or is not confirmed (its antenna stays held).
    bool Release();
    // A new output, after Release; what its device holds counts as held.
    void Drive(OutputChannel& output);
    // A new inhibit line is written at the next receive reading that finds the radio without an antenna.
    void SetInhibit(std::optional<int> line) { m_seat.inhibit = line; }

    // Whether the source gives a transmit state; nothing until its first reading
    // (and always with the interlock off).
    std::optional<bool> HasTransmitState() const { return m_hasTx; }
    // --interlock required without a transmit state: nothing is switched.
    bool SwitchingHeld() const { return m_mode == Interlock::kRequired && m_hasTx == false; }
    bool Transmitting() const { return m_tx == true; }
    // False while the transmit state is unknown to a loop that waits for it.
    bool TransmitKnown() const { return !Gated() || m_tx.has_value(); }
    // Whether the radio's antenna may change now.
    bool MayChange() const { return !Gated() || m_tx == false; }
    // Readings acted on.
    std::uint64_t AnsweredPolls() const { return m_answered; }

    // Manual control, as the Windows program has it. A pick turns Auto off, so
    // polls no longer switch until Auto is on again; like a band change it
    // waits for receive while the rig transmits. An antenna another radio
    // holds is refused, and nothing changes.
    // kMade only once the device confirmed it; kPending while it has not.
    Picked Pick(int antenna);
    // Auto back on follows the last reading at once.
    void SetAuto(bool on);
    struct View {
        std::optional<double> hertz;  // the last reading
        std::optional<int> band;      // the band that reading is in (the last matching one)
        std::string bandName;
        bool automatic = true;
        std::optional<int> held;   // the antenna waiting for receive
        std::string heldWhy;       // why it waits: "transmitting", "transmit state unknown: ..."
        std::vector<int> choices;  // the band's antennas in order, as the lockout sees them
        std::optional<std::string> blockedBy;
    };
    View State() const;

private:
    void Take(const Reading& reading);
    void TransmitState(const Reading& reading);
    bool Gated() const { return m_mode != Interlock::kOff && m_hasTx != false; }
    void NoteLost();
    std::string WaitsFor() const;
    void Confirm();
    void TakeFound();
    void Apply();
    void Choose(double hertz);
    OutputEvent EventFor(const std::optional<int>& antenna) const;
    void Shared(const LockoutGrant& grant, const std::string& target);

    Source* m_source;
    OutputChannel* m_output;
    Log& m_log;
    Interlock m_mode;
    std::shared_ptr<const Station> m_stationCopy;
    const Station& m_station;
    std::vector<Reading> m_readings;
    bool m_txAnnounced = false;
    std::optional<bool> m_hasTx;
    std::optional<bool> m_tx;  // transmitting; nothing: unknown
    bool m_read = false;       // a reading since the start or the last new source
    bool m_lost = false;
    bool m_cannotTell = false;                  // the output could not say what it held at open
    std::optional<std::vector<int>> m_choices;  // of the last frequency inside a band, or the pick
    std::uint64_t m_answered = 0;
    bool m_auto = true;
    std::optional<double> m_hertz;
    std::optional<int> m_held;
    std::string m_heldWhy;
    std::optional<Switchboard> m_ownBoard;
    Switchboard* m_board;
    Seat m_seat;
};

}  // namespace kelvane::svc
