#pragma once
// The USB backends' hold on their board, apart from how the board is reached:
// a missing or failed board costs a write nothing, and is looked for again at
// most once a second. Portable, so the policy is tested natively with a fake board.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace korvport {

class UsbBoard {
public:
    virtual ~UsbBoard() = default;
    // True with the board's serial, or false with why not (for the status log).
    virtual bool Open(std::string& serial, std::string& why) = 0;
    virtual bool Send(std::uint8_t value) = 0;  // false when the board failed
    virtual void Close() = 0;
};

inline constexpr std::uint32_t kRetryMs = 1000;

class UsbLink {
public:
    // `status` receives one line per change of state.
    UsbLink(std::unique_ptr<UsbBoard> board, std::function<void(const std::string&)> status);
    ~UsbLink();
    UsbLink(const UsbLink&) = delete;
    UsbLink& operator=(const UsbLink&) = delete;

    // Sends `value` if the board is open, or can be opened because the last try
    // is kRetryMs old (by `nowMs`, a wrapping millisecond clock). True when sent.
    bool Write(std::uint8_t value, std::uint32_t nowMs);
    // How long until Write may look for the board again; 0 when it is open or may.
    std::uint32_t MsUntilRetry(std::uint32_t nowMs) const;
    // Closes the board without a word (the caller has said why) until the next try.
    void Drop(std::uint32_t nowMs);
    bool IsOpen() const { return m_open; }
    const std::string& Serial() const { return m_serial; }

private:
    std::unique_ptr<UsbBoard> m_board;
    std::function<void(const std::string&)> m_status;
    bool m_open = false;
    bool m_tried = false;
    bool m_found = false;
    std::uint32_t m_lastTry = 0;
    std::string m_serial;
    std::string m_lastWhy;
};

// The status log's limit, and what it holds once `line` is added to `text`:
// past the limit the oldest lines go, down to half of it, behind a marker line.
inline constexpr std::size_t kStatusLogMax = 32 * 1024;
std::string WithStatusLine(std::string text, const std::string& line, std::size_t limit = kStatusLogMax);

}  // namespace korvport
