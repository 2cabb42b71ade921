#include "driver/config.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "core/ctext.h"

namespace korvport {

using kelvane::Trim;
namespace {

bool SameWord(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// The offending text goes into a one-line journal entry: keep it short and printable.
std::string Quoted(std::string_view s) {
    constexpr std::size_t kMax = 60;
    std::string out = "\"";
    for (std::size_t i = 0; i < s.size() && i < kMax; ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        out += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
    }
    if (s.size() > kMax) out += "...";
    return out + "\"";
}

bool OnOff(std::string_view value, bool& out) {
    if (SameWord(value, "on")) return out = true, true;
    if (SameWord(value, "off")) return out = false, true;
    return false;
}

bool SerialFits(Backend backend, std::string_view serial) {
    for (char c : serial)
        if (!std::isalnum(static_cast<unsigned char>(c))) return false;
    if (backend == Backend::HidRelay) return serial.size() == 5;
    return !serial.empty() && serial.size() <= kFtdiSerialMax;
}

// Where a board option was given, so a later backend line can be checked against it.
struct OptionLines {
    int serial = 0, index = 0, invert = 0;
};

std::string At(int lineNo) { return "line " + std::to_string(lineNo) + ": "; }

// Board options only mean something to the USB backends, and each backend has
// its own idea of a serial; checked once the whole file is read.
void CheckBoardOptions(Config& config, const OptionLines& at) {
    const bool usb = config.backend == Backend::Ftdi || config.backend == Backend::HidRelay;
    const char* name = BackendName(config.backend);
    if (!usb) {
        if (config.backend == Backend::Unknown) return;
        for (const auto& [line, key] : {std::pair{at.serial, "serial"}, {at.index, "index"}, {at.invert, "invert"}})
            if (line)
                config.problems.push_back(At(line) + key + " applies to the ftdi and hidrelay backends, not " + name);
        return;
    }
    if (at.serial && !SerialFits(config.backend, config.serial))
        config.problems.push_back(
            At(at.serial) + "bad serial " + Quoted(config.serial) + " for " + name +
            (config.backend == Backend::Ftdi ? " (1 to 15 letters and digits)" : " (5 letters and digits)"));
    if (at.index && config.backend == Backend::HidRelay)
        config.problems.push_back(At(at.index) + "index applies to ftdi only; hidrelay boards are chosen by serial");
    else if (at.index && at.serial)
        config.problems.push_back(At(std::max(at.index, at.serial)) + "serial and index both name the board");
}

}  // namespace

const char* BackendName(Backend backend) {
    switch (backend) {
    case Backend::Hardware:
        return "hardware";
    case Backend::Journal:
        return "journal";
    case Backend::Ftdi:
        return "ftdi";
    case Backend::HidRelay:
        return "hidrelay";
    case Backend::Unknown:
        break;
    }
    return "unknown";
}

Config ParseConfig(std::string_view text) {
    Config config;
    OptionLines at;
    int lineNo = 0;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view raw = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++lineNo;

        const std::string_view line = Trim(raw);
        if (line.empty() || line.front() == '#' || line.front() == ';') continue;
        const std::string where = At(lineNo);
        const auto eq = line.find('=');
        if (eq == std::string_view::npos) {
            config.problems.push_back(where + "expected key=value, got " + Quoted(line));
            continue;
        }
        const std::string_view key = Trim(line.substr(0, eq));
        const std::string_view value = Trim(line.substr(eq + 1));
        if (SameWord(key, "backend")) {
            if (SameWord(value, "hardware")) {
                config.backend = Backend::Hardware;
            } else if (SameWord(value, "journal")) {
                config.backend = Backend::Journal;
            } else if (SameWord(value, "ftdi")) {
                config.backend = Backend::Ftdi;
            } else if (SameWord(value, "hidrelay")) {
                config.backend = Backend::HidRelay;
            } else {
                config.backend = Backend::Unknown;
                config.problems.push_back(where + "unknown backend " + Quoted(value) +
                                          " (hardware, journal, ftdi or hidrelay)");
            }
        } else if (SameWord(key, "journal")) {
            if (value.empty())
                config.problems.push_back(where + "empty journal path, keeping " + Quoted(config.journal));
            else
                config.journal = value;
        } else if (SameWord(key, "qpc")) {
            if (!OnOff(value, config.qpc))
                config.problems.push_back(where + "qpc takes on or off, got " + Quoted(value));
        } else if (SameWord(key, "invert")) {
            at.invert = lineNo;
            if (!OnOff(value, config.invert))
                config.problems.push_back(where + "invert takes on or off, got " + Quoted(value));
        } else if (SameWord(key, "serial")) {
            at.serial = lineNo;
            config.serial = value;
        } else if (SameWord(key, "index")) {
            at.index = lineNo;
            const bool digits =
                !value.empty() && value.size() <= 2 && value.find_first_not_of("0123456789") == std::string_view::npos;
            config.index = digits ? std::stoi(std::string(value)) : -1;
            if (config.index < 0 || config.index > kFtdiIndexMax) {
                config.index = -1;
                config.problems.push_back(where + "index takes a device number from 0 to " +
                                          std::to_string(kFtdiIndexMax) + ", got " + Quoted(value));
            }
        } else {
            config.problems.push_back(where + "unknown key " + Quoted(key));
        }
    }
    CheckBoardOptions(config, at);
    // Read in file order, whichever check found them.
    const auto lineOf = [](const std::string& problem) { return std::stoi(problem.substr(5)); };
    std::stable_sort(config.problems.begin(), config.problems.end(),
                     [&](const std::string& a, const std::string& b) { return lineOf(a) < lineOf(b); });
    return config;
}

}  // namespace korvport
