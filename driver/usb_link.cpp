#include "driver/usb_link.h"

namespace korvport {

UsbLink::UsbLink(std::unique_ptr<UsbBoard> board, std::function<void(const std::string&)> status)
    : m_board(std::move(board)), m_status(std::move(status)) {}

UsbLink::~UsbLink() {
    if (m_open) m_board->Close();
}

bool UsbLink::Write(std::uint8_t value, std::uint32_t nowMs) {
    if (!m_open) {
        if (m_tried && nowMs - m_lastTry < kRetryMs) return false;
        m_tried = true;
        m_lastTry = nowMs;
        std::string serial, why;
        if (!m_board->Open(serial, why)) {
            // Said once, not every second while the board stays away.
            if (why != m_lastWhy) m_status("not found: " + why);
            m_lastWhy = why;
            return false;
        }
        m_open = true;
        m_lastWhy.clear();
        m_serial = serial;
        m_status((m_found ? "back: " : "found: ") + serial);
        m_found = true;
    }
    if (m_board->Send(value)) return true;
    m_board->Close();
    m_open = false;
    m_lastTry = nowMs;
    m_status("lost: " + m_serial + ", write failed");
    return false;
}

std::uint32_t UsbLink::MsUntilRetry(std::uint32_t nowMs) const {
    if (m_open || !m_tried || nowMs - m_lastTry >= kRetryMs) return 0;
    return kRetryMs - (nowMs - m_lastTry);
}

void UsbLink::Drop(std::uint32_t nowMs) {
    if (m_open) m_board->Close();
    m_open = false;
    m_tried = true;
    m_lastTry = nowMs;
}

std::string WithStatusLine(std::string text, const std::string& line, std::size_t limit) {
    static const std::string kMarker = "(older lines dropped)\n";
    text += line;
    text += '\n';
    if (text.size() <= limit) return text;
    // Whole lines only, so every line left still reads from its time stamp; the
    // new line always stays.
    const std::size_t lineStart = text.size() - line.size() - 1;
    std::size_t from = text.size() - limit / 2;
    // An old line running past the cut point is dropped whole; the search must
    // not reach past the old text into the new line's own end.
    const std::size_t nl = from >= lineStart ? lineStart : text.find('\n', from - 1);
    from = nl >= lineStart ? lineStart : nl + 1;
    std::string kept = kMarker + text.substr(from);
    // A single line longer than the limit is cut rather than let through.
    if (kept.size() > limit) kept = kMarker + line.substr(0, limit - kMarker.size() - 1) + '\n';
    return kept;
}

}  // namespace korvport
