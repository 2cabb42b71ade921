#pragma once
// The hold on one output device, the same in both editions: the wanted event
// reaches the device when it can; an absent or lost device costs a write
// nothing and is tried again at most once per retry period; each change of
// state is reported once. The clock is injected (wrapping milliseconds), so
// the policy is tested with a fake one.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "outputs/device.h"

namespace kelvane::outputs {

inline constexpr std::uint32_t kRetryMs = 1000;

struct OutputReport {
    enum Kind {
        kFound,         // opened for the first time
        kBack,          // opened again after an absence, a loss or a stall
        kAbsent,        // an open failed: once until the reason changes or the device opens
        kLost,          // a write failed; the device is closed
        kNotAnswering,  // a call ran late: seen by the caller's watchdog, not by the hold
    } kind = kAbsent;
    std::string name;  // the device's name (found, back, lost; not answering during a write)
    std::string why;
    bool operator==(const OutputReport&) const = default;
};

class OutputHold {
public:
    using Clock = std::function<std::uint32_t()>;  // milliseconds, wrapping
    using Sink = std::function<void(const OutputReport&)>;

    // Touches nothing yet: the device is first tried by Service().
    OutputHold(std::unique_ptr<OutputDevice> device, Clock clock, Sink sink, std::uint32_t retryMs = kRetryMs);
    ~OutputHold();  // closes an open device
    OutputHold(const OutputHold&) = delete;
    OutputHold& operator=(const OutputHold&) = delete;

    // Makes `event` the wanted state, to be written (again, even if unchanged).
    void Want(const OutputEvent& event);
    // Opens the device when it is closed and a try is due, then writes the
    // wanted state if it has not reached the device since the last open.
    void Service();
    // The caller saw a device call hang: the device is closed without a report,
    // tried again a retry period from now, and then given the wanted state again.
    void Stalled();

    // A wanted state not yet written.
    bool Pending() const { return m_wanted && !m_written; }
    // How long until Service may try the device again; 0 when open or due.
    std::uint32_t MsUntilRetry() const;
    bool DeviceOpen() const { return m_open; }
    // Opened at least once: a closed device is then lost rather than absent.
    bool EverOpened() const { return m_everOpened; }
    bool Inverts() const { return m_device->Inverts(); }
    const std::string& Name() const { return m_name; }
    // The last wanted state; nothing before the first Want.
    const std::optional<OutputEvent>& Wanted() const { return m_wanted; }
    // The last state the device took; nothing while no write has succeeded.
    const std::optional<OutputEvent>& LastWritten() const { return m_lastWritten; }
    // What the device held when it first opened, before anything was written;
    // nothing while it never opened or where it cannot tell.
    const std::optional<std::uint8_t>& Found() const { return m_found; }

private:
    void TryOpen();
    void CloseUntilRetry();

    std::unique_ptr<OutputDevice> m_device;
    Clock m_clock;
    Sink m_sink;
    std::uint32_t m_retryMs;
    bool m_open = false;
    bool m_tried = false;
    bool m_everOpened = false;
    std::uint32_t m_lastTry = 0;
    std::string m_name;
    std::optional<std::string> m_lastWhy;  // the absence last reported, until the next open
    bool m_written = false;
    std::optional<OutputEvent> m_wanted;
    std::optional<OutputEvent> m_lastWritten;
    std::optional<std::uint8_t> m_found;
};

}  // namespace kelvane::outputs
