#pragma once
// One poll: ask rigctld for the frequency (and the transmit state), pick the
// antenna by the band rules, and switch the output unless the rig transmits.
// Anything doubtful (no reply, a bad reply, an error report) changes nothing.

#include <cstdint>
#include <optional>
#include <string>

#include "linux/log.h"
#include "linux/output.h"
#include "linux/rigctld_link.h"
#include "linux/station_file.h"

namespace kelvane::svc {

enum class Interlock { kAuto, kOff, kRequired };

class PollLoop {
public:
    PollLoop(RigLink& link, OutputChannel& output, Log& log, Interlock mode, const Station& station);

    void PollOnce();
    // SIGHUP: the next poll switches by the new tables.
    void Reload(const Station& station);

    // Whether this connection's rig has a transmit state; nothing until its first answer
    // to 't'. A "not available" after numbers means none from then on.
    std::optional<bool> HasTransmitState() const { return m_hasTx; }
    // --interlock required without a transmit state: nothing is switched.
    bool SwitchingHeld() const { return m_mode == Interlock::kRequired && m_hasTx == false; }
    bool Transmitting() const { return m_transmitting; }
    // Polls that got every answer they asked for.
    std::uint64_t AnsweredPolls() const { return m_answered; }

    // Manual control, as the Windows program has it. A pick turns Auto off, so
    // polls no longer switch until Auto is on again; like a band change it
    // waits for receive while the rig transmits. True when the pick is made now.
    bool Pick(int antenna);
    // Auto back on follows the last reading at once.
    void SetAuto(bool on);
    struct View {
        std::optional<double> hertz;  // the last reading
        std::optional<int> band;      // the band that reading is in (the last matching one)
        std::string bandName;
        bool automatic = true;
        std::optional<int> held;  // the antenna waiting for receive
    };
    View State() const;

private:
    enum class Step { kGo, kStop };
    Step AskFrequency(double& hertz);
    Step AskTransmit();
    void NoTransmitState(int report);
    void BadReply(Condition condition, const char* command, const Reply& reply);
    void Apply();

    RigLink& m_link;
    OutputChannel& m_output;
    Log& m_log;
    Interlock m_mode;
    Station m_station;
    std::uint64_t m_decidedFor = 0;  // the connection m_hasTx belongs to
    bool m_txAnnounced = false;
    std::optional<bool> m_hasTx;
    bool m_transmitting = false;
    std::optional<int> m_wanted;  // the antenna of the last frequency inside a band
    std::uint64_t m_answered = 0;
    bool m_auto = true;
    std::optional<double> m_hertz;
    std::optional<int> m_held;
};

}  // namespace kelvane::svc
