#include "linux/output.h"

#include <charconv>
#include <cstdio>

#include "linux/devices.h"
#include "outputs/wire_byte.h"

namespace kelvane::svc {
namespace {

bool ParseLines(std::string_view text, std::vector<unsigned>& lines, std::string& error) {
    lines.clear();
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        unsigned line = 0;
        const auto [end, ec] = std::from_chars(item.data(), item.data() + item.size(), line);
        if (item.empty() || ec != std::errc() || end != item.data() + item.size()) {
            error = "gpio line \"" + std::string(item) + "\" is not a line number";
            return false;
        }
        for (const unsigned seen : lines)
            if (seen == line) {
                error = "gpio line " + std::to_string(line) + " is given twice";
                return false;
            }
        lines.push_back(line);
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
        if (text.empty()) {
            error = "gpio line list ends with a comma";
            return false;
        }
    }
    if (lines.empty() || lines.size() > 8) {
        error = "gpio needs one to eight line numbers, D0 first";
        return false;
    }
    return true;
}

}  // namespace

std::string HexByte(std::uint8_t byte) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", byte);
    return buf;
}

bool ParseOutputSpec(std::string_view text, OutputSpec& spec, std::string& error) {
    spec = OutputSpec{};
    constexpr std::string_view kInvert = ",invert";
    if (text.size() >= kInvert.size() && text.substr(text.size() - kInvert.size()) == kInvert) {
        spec.invert = true;
        text.remove_suffix(kInvert.size());
    }
    const std::size_t colon = text.find(':');
    const std::string_view kind = text.substr(0, colon);
    const std::string_view rest = colon == std::string_view::npos ? std::string_view{} : text.substr(colon + 1);
    spec.target = std::string(rest);
    if (kind == "journal") {
        spec.kind = OutputSpec::kJournal;
        if (spec.target == "-") spec.target.clear();
        return true;
    }
    if (rest.empty()) {
        error = kind == "parport" ? "parport needs a device, as in parport:/dev/parport0"
                : kind == "gpio"  ? "gpio needs a chip and lines, as in gpio:gpiochip0:4,5,6,7,8,9,10,11"
                : kind == "ftdi"  ? "ftdi needs a serial number or #index, as in ftdi:#0"
                : kind == "hidrelay"
                    ? "hidrelay needs a serial number or \"first\", as in hidrelay:first"
                    : "unknown output \"" + std::string(kind) + "\" (journal, parport, gpio, ftdi or hidrelay)";
        return false;
    }
    if (kind == "parport") {
        spec.kind = OutputSpec::kParport;
    } else if (kind == "gpio") {
        spec.kind = OutputSpec::kGpio;
        const std::size_t sep = rest.rfind(':');
        if (sep == std::string_view::npos || sep == 0) {
            error = "gpio needs a chip and lines, as in gpio:gpiochip0:4,5,6,7,8,9,10,11";
            return false;
        }
        spec.target = std::string(rest.substr(0, sep));
        if (!ParseLines(rest.substr(sep + 1), spec.lines, error)) return false;
    } else if (kind == "ftdi") {
        spec.kind = OutputSpec::kFtdi;
        if (rest[0] == '#') {
            unsigned index = 0;
            const auto [end, ec] = std::from_chars(rest.data() + 1, rest.data() + rest.size(), index);
            if (rest.size() == 1 || ec != std::errc() || end != rest.data() + rest.size()) {
                error = "ftdi:#INDEX needs a number after #";
                return false;
            }
        }
    } else if (kind == "hidrelay") {
        spec.kind = OutputSpec::kHidRelay;
    } else {
        error = "unknown output \"" + std::string(kind) + "\" (journal, parport, gpio, ftdi or hidrelay)";
        return false;
    }
    return true;
}

OutputApis RealApis() { return {&RealPpdev(), &RealGpiod(), &RealFtdi(), &RealHid()}; }

std::unique_ptr<OutputDevice> MakeOutputDevice(const OutputSpec& spec, const OutputApis& apis) {
    switch (spec.kind) {
    case OutputSpec::kJournal:
        return MakeJournal(spec.target, spec.invert);
    case OutputSpec::kParport:
        return MakeParport(spec.target, spec.invert, *apis.ppdev);
    case OutputSpec::kGpio:
        return MakeGpio(spec.target, spec.lines, spec.invert, *apis.gpiod);
    case OutputSpec::kFtdi:
        return MakeFtdi(spec.target, spec.invert, *apis.ftdi);
    case OutputSpec::kHidRelay:
        return MakeHidRelay(spec.target, spec.invert, *apis.hid);
    }
    return nullptr;
}

OutputChannel::OutputChannel(std::unique_ptr<OutputDevice> device, std::string label, Log& log,
                             std::chrono::milliseconds retry)
    : m_device(std::move(device)), m_label(std::move(label)), m_log(log), m_retry(retry) {
    TryOpen();
}

OutputChannel::~OutputChannel() {
    if (m_open) m_device->Close();
}

void OutputChannel::TryOpen() {
    const auto now = std::chrono::steady_clock::now();
    if (m_open || now < m_nextOpen) return;
    std::string error;
    if (m_device->Open(error)) {
        m_open = true;
        m_written = false;
        m_log.End(Condition::kOutput, "output " + m_label + " is back");
        return;
    }
    m_nextOpen = now + m_retry;
    m_log.Begin(Condition::kOutput, Log::kWarning,
                "output " + m_label + " is not available (" + error + "); trying again every " +
                    std::to_string(m_retry.count()) + " ms");
}

void OutputChannel::WriteWanted() {
    if (!m_open || m_written || !m_wanted) return;
    std::string error;
    if (m_device->Write(*m_wanted, error)) {
        m_written = true;
        m_lastWritten = m_wanted;
        m_log.Verbose("wrote byte=" + HexByte(m_wanted->byte) + " antenna=" + std::to_string(m_wanted->antenna + 1) +
                      " " + m_wanted->name + " to " + m_label +
                      (m_device->Inverts()
                           ? " (inverted: " + HexByte(outputs::WireByte(m_wanted->byte, true)) + " on the wire)"
                           : ""));
        return;
    }
    m_device->Close();
    m_open = false;
    m_nextOpen = std::chrono::steady_clock::now() + m_retry;
    m_log.Begin(
        Condition::kOutput, Log::kWarning,
        "output " + m_label + " lost (" + error + "); trying again every " + std::to_string(m_retry.count()) + " ms");
}

void OutputChannel::Set(const OutputEvent& event) {
    m_wanted = event;
    m_written = false;
    Service();
}

void OutputChannel::Service() {
    TryOpen();
    WriteWanted();
}

}  // namespace kelvane::svc
