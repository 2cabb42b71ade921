#include "driver/usb_link.h"

namespace korvport {

UsbLink::UsbLink(std::unique_ptr<UsbBoard> board, std::function<void(const std::string&)> status)
    : board_(std::move(board)), status_(std::move(status)) {}

UsbLink::~UsbLink() {
    if (open_) board_->Close();
}

bool UsbLink::Write(std::uint8_t value, std::uint32_t nowMs) {
    if (!open_) {
        if (tried_ && nowMs - lastTry_ < kRetryMs) return false;
        tried_ = true;
        lastTry_ = nowMs;
        std::string serial, why;
        if (!board_->Open(serial, why)) {
            // Said once, not every second while the board stays away.
            if (why != lastWhy_) status_("not found: " + why);
            lastWhy_ = why;
            return false;
        }
        open_ = true;
        lastWhy_.clear();
        serial_ = serial;
        status_((found_ ? "back: " : "found: ") + serial);
        found_ = true;
    }
    if (board_->Send(value)) return true;
    board_->Close();
    open_ = false;
    lastTry_ = nowMs;
    status_("lost: " + serial_ + ", write failed");
    return false;
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
    from = from >= lineStart ? lineStart : text.find('\n', from - 1) + 1;
    std::string kept = kMarker + text.substr(from);
    // A single line longer than the limit is cut rather than let through.
    if (kept.size() > limit) kept = kMarker + line.substr(0, limit - kMarker.size() - 1) + '\n';
    return kept;
}

}  // namespace korvport
