#pragma once
// What the service follows: rigctld, RadioInfo datagrams or flrig, behind one
// contract, so that the loop, the interlock and the output never know which.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "service/base/log.h"
#include "service/base/platform.h"
#include "service/bus/link.h"
#include "service/sources/udp/udp_listener.h"
#include "service/sources/wire_text.h"

namespace kelvane::svc {

struct Reading {
    double hertz = 0;                  // the frequency that decides the band
    std::optional<bool> transmitting;  // nothing: this source gives no transmit state now
};

class Source {
public:
    virtual ~Source() = default;
    // What the source says since the last call, oldest first; nothing when it
    // said nothing to act on (no reply, a bad one, lost). `transmit`: whether to
    // ask for the transmit state (not with the interlock off).
    virtual void Read(bool transmit, std::vector<Reading>& readings) = 0;
    // Readable when a pushed reading waits; kNoHandle for a source that is polled.
    virtual Handle Fd() const { return kNoHandle; }
    // "rigctld 127.0.0.1:4532", and what it is doing now ("connected", ...).
    virtual std::string Name() const = 0;
    virtual std::string State() const = 0;
    // Why the last reading had no transmit state, and what would bring one.
    virtual std::string NoTransmitState() const = 0;
    virtual std::string TransmitStateBack() const = 0;
    // What the transmit interlock cannot see with this source; empty when nothing.
    virtual std::string InterlockCaveat() const { return {}; }
    // Not answering now (no connection, or silent too long): what it said last,
    // its transmit state above all, no longer stands.
    virtual bool Lost() const = 0;
};

constexpr const char* kRigctldPort = "4532";

struct SourceSpec {
    enum Kind { kRigctld, kUdp, kFlrig, kMqtt } kind = kRigctld;
    Endpoint endpoint{"localhost", kRigctldPort};  // rigctld and flrig
    UdpSpec udp;
    std::string topic;                   // mqtt
    std::optional<BrokerAccess> broker;  // mqtt: not parsed, the station's mqtt option
};
// rigctld[:HOST[:PORT]], udp[:[ADDR:]PORT][,radio=N], flrig[:HOST[:PORT]], mqtt:TOPIC;
// false with the reason.
bool ParseSourceSpec(std::string_view text, SourceSpec& out, std::string& why);

using SteadyNow = std::function<std::chrono::steady_clock::time_point()>;
// Nothing, with the reason, when the source cannot start (a UDP port that cannot be bound).
std::unique_ptr<Source> MakeSource(const SourceSpec& spec, Log& log, std::string& why,
                                   const SteadyNow& now = std::chrono::steady_clock::now);

// A polled source asked every `period` on a thread of its own, its readings and
// what it says of itself handed over through Fd() as a pushed source's are, so
// that no other radio waits for its exchanges. `firstNow`: the first exchange
// is made before this returns, so that the first round sees every radio's.
// A pushed source is returned as it is; nothing, with the reason, on failure.
std::unique_ptr<Source> OnOwnThread(std::unique_ptr<Source> polled,
                                    const std::atomic<std::chrono::milliseconds>& period, bool firstNow,
                                    std::string& why);

}  // namespace kelvane::svc
