#pragma once
// One poll: ask rigctld for the frequency (and the transmit state), pick the
// antenna by the band rules, and switch the output unless the rig transmits.
// Anything doubtful (no reply, a bad reply, an error report) changes nothing.

#include <cstdint>
#include <memory>
#include <optional>

#include "linux/band_rules.h"
#include "linux/log.h"
#include "linux/output.h"
#include "linux/rigctld_link.h"

namespace kelvane::svc {

enum class Interlock { kAuto, kOff, kRequired };

class PollLoop {
public:
    PollLoop(RigLink& link, OutputChannel& output, Log& log, Interlock mode, const Station& station);

    void PollOnce();
    // SIGHUP: the next poll switches by the new tables.
    void Reload(const Station& station);

    // Whether this connection's rig has a transmit state; nothing until its first answer to 't'.
    std::optional<bool> HasTransmitState() const { return hasTx_; }
    bool Transmitting() const { return transmitting_; }

private:
    enum class Step { kGo, kStop };
    Step AskFrequency(double& hertz);
    Step AskTransmit();
    void BadReply(const char* command, const Reply& reply);
    void Apply();

    RigLink& link_;
    OutputChannel& output_;
    Log& log_;
    Interlock mode_;
    std::unique_ptr<BandRules> rules_;
    std::uint64_t decidedFor_ = 0;  // the connection hasTx_ belongs to
    std::optional<bool> hasTx_;
    bool transmitting_ = false;
    std::optional<int> wanted_;  // the antenna of the last frequency inside a band
};

}  // namespace kelvane::svc
