#pragma once
// Where the antenna's byte goes. One device class per kind of hardware, one
// small contract (open, write, close); OutputChannel keeps the wanted state and
// brings a device that is absent or lost back without ever waiting for it.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "linux/log.h"

namespace kelvane::svc {

struct OutputSpec {
    enum Kind { kJournal, kParport, kGpio, kFtdi, kHidRelay } kind = kJournal;
    std::string target;           // path, chip, serial or #index, serial or "first"; empty journal: stdout
    std::vector<unsigned> lines;  // gpio: D0 first
    bool invert = false;
};
// Parses --output's SPEC; on failure `error` says what is wrong.
bool ParseOutputSpec(std::string_view text, OutputSpec& spec, std::string& error);

struct OutputEvent {
    std::uint8_t byte = 0;  // the antenna's byte, before any inversion
    int antenna = 0;        // 0-9
    std::string name;
    bool operator==(const OutputEvent&) const = default;
};

// "0xNN", as the journal and the logs show a byte.
std::string HexByte(std::uint8_t byte);

class OutputDevice {
public:
    explicit OutputDevice(bool invert = false) : m_invert(invert) {}
    virtual ~OutputDevice() = default;
    // An active-low board: the complement of the antenna's byte goes on the wire.
    bool Inverts() const { return m_invert; }
    // False when the device is absent or refuses; `error` then says why.
    virtual bool Open(std::string& error) = 0;
    // False when the write failed: the device is then taken as lost.
    virtual bool Write(const OutputEvent& event, std::string& error) = 0;
    // Releases the device and leaves its lines as they are.
    virtual void Close() = 0;

protected:
    const bool m_invert;
};

class PpdevApi;
class GpiodApi;
class FtdiApi;
class HidApi;
struct OutputApis {
    PpdevApi* ppdev;
    GpiodApi* gpiod;
    FtdiApi* ftdi;
    HidApi* hid;
};
OutputApis RealApis();
std::unique_ptr<OutputDevice> MakeOutputDevice(const OutputSpec& spec, const OutputApis& apis);

class OutputChannel {
public:
    OutputChannel(std::unique_ptr<OutputDevice> device, std::string label, Log& log,
                  std::chrono::milliseconds retry = std::chrono::milliseconds{1000});
    ~OutputChannel();
    OutputChannel(const OutputChannel&) = delete;
    OutputChannel& operator=(const OutputChannel&) = delete;

    // Makes `event` the wanted state and writes it (opening the device first when due).
    void Set(const OutputEvent& event);
    // Once a poll: reopens an absent or lost device when due and brings it to the wanted state.
    void Service();
    // The last wanted state; nothing before the first switch.
    const std::optional<OutputEvent>& Wanted() const { return m_wanted; }
    // What the device last took; nothing when no write has succeeded.
    const std::optional<OutputEvent>& LastWritten() const { return m_lastWritten; }
    bool DeviceOpen() const { return m_open; }

private:
    void TryOpen();
    void WriteWanted();

    std::unique_ptr<OutputDevice> m_device;
    std::string m_label;
    Log& m_log;
    std::chrono::milliseconds m_retry;
    std::chrono::steady_clock::time_point m_nextOpen{};
    bool m_open = false;
    bool m_written = false;
    std::optional<OutputEvent> m_wanted;
    std::optional<OutputEvent> m_lastWritten;
};

}  // namespace kelvane::svc
