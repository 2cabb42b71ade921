#pragma once
// HID relay boards (8-channel "USBRelayN"): relays are set by 9-byte feature
// reports and the board's serial and relay states come back in feature report 0x01.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvane::outputs {

inline constexpr std::size_t kHidRelayReportSize = 9;
using HidRelayReport = std::array<std::uint8_t, kHidRelayReportSize>;
// [0] report id 0x00, [1] command, [2] relay 1-8, rest 0. The first write sets
// each relay by number too, so the boards' all-relay commands are not used.
inline constexpr std::uint8_t kHidRelayOn = 0xFF, kHidRelayOff = 0xFD;
inline constexpr int kHidRelayMaxCount = 8;
inline constexpr std::size_t kHidRelaySerialSize = 5;

// Relay count from the product string "USBRelay1".."USBRelay8"; 0 for anything else.
int HidRelayCount(std::string_view product);

// Serial (5 chars, bytes 0-4) from feature report 0x01's data (without the
// report id). A report shorter than the board's 8 bytes yields an empty serial.
struct HidRelayStatus {
    std::string serial;
    std::optional<std::uint8_t> relays;  // byte 7: relay n+1 energised in bit n
};
HidRelayStatus ParseHidRelayStatus(const std::uint8_t* data, std::size_t size);

// A HID device with the boards' vendor and product ids, as its binding found it.
struct HidRelayFound {
    std::string where;    // how a reason names it when its serial is unknown (a path)
    std::string product;  // the product string
    std::string serial;   // from its status report
    std::string problem;  // why its serial is unknown ("cannot open", "no status"); empty when read
};
struct HidRelayChoice {
    std::optional<std::size_t> index;  // into the list; nothing when no board fits
    int relays = 0;
    std::string why;  // when nothing fits
};
// The board to drive: the first relay board whose serial is `serial`, or the
// first relay board with a serial when `serial` is empty. Devices whose product
// is not a relay board are not counted.
HidRelayChoice ChooseHidRelay(const std::vector<HidRelayFound>& found, std::string_view serial);

// The report switching one relay (1..8) on or off.
HidRelayReport HidRelayCommand(int relay, bool on);

class HidRelayPlan {
public:
    HidRelayPlan(int relayCount, bool invert);  // relayCount 1..8 (clamped)
    // Reports taking the board to `value` (bit n drives relay n+1; bits beyond the
    // count ignored): every relay on the first call and after Forget(), then only
    // the relays whose bit changed. The plan assumes the reports are delivered.
    std::vector<HidRelayReport> ReportsFor(std::uint8_t value);
    // After a failed write or a reopen the board's state is unknown.
    void Forget();

private:
    int m_count;
    bool m_invert;
    bool m_known = false;
    std::uint8_t m_state = 0;  // relay n+1 energised in bit n, within the count
};

}  // namespace kelvane::outputs
