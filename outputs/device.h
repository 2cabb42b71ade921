#pragma once
// The contract every output device keeps, in both editions: open, write, close.
// A device never waits for long and never retries by itself; OutputHold decides
// when it is tried again and what is reported.

#include <cstdint>
#include <optional>
#include <string>

namespace kelvane::outputs {

// What goes to a device: the antenna's byte, and for a device that records
// rather than drives (a journal), which antenna it stands for when known.
struct OutputEvent {
    std::uint8_t byte = 0;  // before any inversion
    int antenna = 0;        // 0-9
    std::string name;
    bool operator==(const OutputEvent&) const = default;
};

class OutputDevice {
public:
    explicit OutputDevice(bool invert = false) : m_invert(invert) {}
    virtual ~OutputDevice() = default;
    OutputDevice(const OutputDevice&) = delete;
    OutputDevice& operator=(const OutputDevice&) = delete;

    // An active-low board: the complement of the antenna's byte goes on the wire.
    bool Inverts() const { return m_invert; }
    // False when the device is absent or refuses; `why` then says why.
    virtual bool Open(std::string& why) = 0;
    // What the reports call the open device (a board's serial); empty: the
    // caller's own name for it.
    virtual std::string Name() const { return {}; }
    // False when the write failed, with why: the device is then taken as lost.
    virtual bool Write(const OutputEvent& event, std::string& why) = 0;
    // Just opened, before any write: the byte its lines hold now (before any
    // inversion), read back from the device; nothing where it cannot tell.
    // Latching relays keep a radio on an antenna across a restart.
    virtual std::optional<std::uint8_t> Holds() { return std::nullopt; }
    // Releases the device and leaves its lines as they are. Nothing is left to
    // do when releasing fails, so it has no outcome.
    virtual void Close() = 0;

protected:
    const bool m_invert;
};

}  // namespace kelvane::outputs
