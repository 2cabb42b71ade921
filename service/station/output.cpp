#include "service/station/output.h"

#include <cstdio>

#include "outputs/wire_byte.h"

namespace kelvane::svc {
namespace {

std::uint32_t SteadyMs() {
    using namespace std::chrono;
    return static_cast<std::uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace

std::string HexByte(std::uint8_t byte) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", byte);
    return buf;
}

OutputChannel::OutputChannel(std::unique_ptr<OutputDevice> device, std::string label, Log& log,
                             std::chrono::milliseconds retry)
    : m_label(std::move(label)),
      m_log(log),
      m_retry(retry),
      m_hold(
          std::move(device), SteadyMs, [this](const outputs::OutputReport& r) { Report(r); },
          static_cast<std::uint32_t>(retry.count())) {
    m_hold.Service();
}

// The one place the hold's reports become log lines.
void OutputChannel::Report(const outputs::OutputReport& r) {
    const std::string retrying = "; trying again every " + std::to_string(m_retry.count()) + " ms";
    switch (r.kind) {
    case outputs::OutputReport::kFound:
    case outputs::OutputReport::kBack:
        m_log.End(Condition::kOutput, "output " + m_label + " is back");
        break;
    case outputs::OutputReport::kAbsent:
        m_log.Begin(Condition::kOutput, Log::kWarning,
                    "output " + m_label + " is not available (" + r.why + ")" + retrying);
        break;
    case outputs::OutputReport::kLost:
    case outputs::OutputReport::kNotAnswering:
        m_log.Begin(Condition::kOutput, Log::kWarning, "output " + m_label + " lost (" + r.why + ")" + retrying);
        break;
    }
}

std::string OutputChannel::State() const {
    return m_hold.DeviceOpen() ? "open" : m_hold.EverOpened() ? "lost, retrying" : "absent, retrying";
}

void OutputChannel::Set(const OutputEvent& event) {
    m_hold.Want(event);
    Service();
}

void OutputChannel::Service() {
    const bool pending = m_hold.Pending();
    m_hold.Service();
    // The hold reports a change once; the reminder while it lasts is the log's.
    m_log.Still(Condition::kOutput);
    if (!pending || m_hold.Pending()) return;
    const OutputEvent& e = *m_hold.LastWritten();
    m_log.Verbose(
        "wrote byte=" + HexByte(e.byte) + " antenna=" + std::to_string(e.antenna + 1) + " " + e.name + " to " +
        m_label +
        (m_hold.Inverts() ? " (inverted: " + HexByte(outputs::WireByte(e.byte, true)) + " on the wire)" : ""));
}

}  // namespace kelvane::svc
