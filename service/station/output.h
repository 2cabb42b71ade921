#pragma once
// Where the antenna's byte goes: OutputChannel is the shared hold on a device
// (outputs/output_hold.h) with its reports worded for the log.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "service/base/log.h"
#include "outputs/output_hold.h"

namespace kelvane::svc {

using outputs::OutputDevice;
using outputs::OutputEvent;

// "0xNN", as the journal and the logs show a byte.
std::string HexByte(std::uint8_t byte);

class OutputChannel {
public:
    // Tries the device at once, so an absent one is logged at start.
    OutputChannel(std::unique_ptr<OutputDevice> device, std::string label, Log& log,
                  std::chrono::milliseconds retry = std::chrono::milliseconds{outputs::kRetryMs});

    // Makes `event` the wanted state and writes it (opening the device first when due).
    void Set(const OutputEvent& event);
    // Once a poll: reopens an absent or lost device when due and brings it to the wanted state.
    void Service();
    // The last wanted state; nothing before the first switch.
    const std::optional<OutputEvent>& Wanted() const { return m_hold.Wanted(); }
    // The last state actually written to the device; nothing while no write succeeded.
    const std::optional<OutputEvent>& LastWritten() const { return m_hold.LastWritten(); }
    bool DeviceOpen() const { return m_hold.DeviceOpen(); }
    // The wanted state has not reached the device yet.
    bool Pending() const { return m_hold.Pending(); }
    const std::optional<std::uint8_t>& Found() const { return m_hold.Found(); }
    // "open", "lost, retrying" or "absent, retrying", as the status line and the console say it.
    std::string State() const;

private:
    void Report(const outputs::OutputReport& report);

    std::string m_label;
    Log& m_log;
    std::chrono::milliseconds m_retry;
    outputs::OutputHold m_hold;
};

}  // namespace kelvane::svc
