#include "outputs/output_hold.h"

#include <utility>

namespace kelvane::outputs {

OutputHold::OutputHold(std::unique_ptr<OutputDevice> device, Clock clock, Sink sink, std::uint32_t retryMs)
    : m_device(std::move(device)), m_clock(std::move(clock)), m_sink(std::move(sink)), m_retryMs(retryMs) {}

OutputHold::~OutputHold() {
    if (m_open) m_device->Close();
}

void OutputHold::Want(const OutputEvent& event) {
    m_wanted = event;
    m_written = false;
}

void OutputHold::TryOpen() {
    if (m_open) return;
    const std::uint32_t now = m_clock();
    // Differences, not comparisons, so the clock may wrap.
    if (m_tried && now - m_lastTry < m_retryMs) return;
    m_tried = true;
    m_lastTry = now;
    std::string why;
    if (!m_device->Open(why)) {
        // Said once, not at every try while the device stays away.
        if (why != m_lastWhy) m_sink({OutputReport::kAbsent, {}, why});
        m_lastWhy = std::move(why);
        return;
    }
    m_open = true;
    m_written = false;  // a device back from an absence may hold anything
    m_lastWhy.reset();
    m_name = m_device->Name();
    if (!m_everOpened) m_found = m_device->Holds();
    m_sink({m_everOpened ? OutputReport::kBack : OutputReport::kFound, m_name, {}});
    m_everOpened = true;
}

void OutputHold::Service() {
    TryOpen();
    if (!m_open || !Pending()) return;
    std::string why;
    if (m_device->Write(*m_wanted, why)) {
        m_written = true;
        m_lastWritten = m_wanted;
        return;
    }
    CloseUntilRetry();
    m_sink({OutputReport::kLost, m_name, why});
}

void OutputHold::Stalled() {
    CloseUntilRetry();
    m_tried = true;
}

void OutputHold::CloseUntilRetry() {
    if (m_open) m_device->Close();
    m_open = false;
    m_written = false;
    m_lastTry = m_clock();
}

std::uint32_t OutputHold::MsUntilRetry() const {
    if (m_open || !m_tried) return 0;
    const std::uint32_t since = m_clock() - m_lastTry;
    return since >= m_retryMs ? 0 : m_retryMs - since;
}

}  // namespace kelvane::outputs
