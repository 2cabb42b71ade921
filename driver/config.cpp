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

// Problems as they are found, with their line; told in file order at the end.
using Problems = std::vector<std::pair<int, std::string>>;

// Board options only mean something to the USB backends, and each backend has
// its own idea of a serial; checked once the whole file is read.
void CheckBoardOptions(const Config& config, const OptionLines& at, Problems& problems) {
    const bool usb = config.backend == Backend::Ftdi || config.backend == Backend::HidRelay;
    const char* name = BackendName(config.backend);
    if (!usb) {
        if (config.backend == Backend::Unknown) return;
        for (const auto& [line, key] : {std::pair{at.serial, "serial"}, {at.index, "index"}, {at.invert, "invert"}})
            if (line)
                problems.emplace_back(line,
                                      key + std::string(" applies to the ftdi and hidrelay backends, not ") + name);
        return;
    }
    if (at.serial && !SerialFits(config.backend, config.serial))
        problems.emplace_back(at.serial, "bad serial " + Quoted(config.serial) + " for " + name +
                                             (config.backend == Backend::Ftdi ? " (1 to 15 letters and digits)"
                                                                              : " (5 letters and digits)"));
    if (at.index && config.backend == Backend::HidRelay)
        problems.emplace_back(at.index, "index applies to ftdi only; hidrelay boards are chosen by serial");
    else if (at.index && at.serial)
        problems.emplace_back(std::max(at.index, at.serial), "serial and index both name the board");
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
    Problems problems;
    int lineNo = 0;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view raw = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++lineNo;

        const std::string_view line = Trim(raw);
        if (line.empty() || line.front() == '#' || line.front() == ';') continue;
        const auto eq = line.find('=');
        if (eq == std::string_view::npos) {
            problems.emplace_back(lineNo, "expected key=value, got " + Quoted(line));
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
                problems.emplace_back(lineNo,
                                      "unknown backend " + Quoted(value) + " (hardware, journal, ftdi or hidrelay)");
            }
        } else if (SameWord(key, "journal")) {
            if (value.empty())
                problems.emplace_back(lineNo, "empty journal path, keeping " + Quoted(config.journal));
            else
                config.journal = value;
        } else if (SameWord(key, "qpc")) {
            if (!OnOff(value, config.qpc)) problems.emplace_back(lineNo, "qpc takes on or off, got " + Quoted(value));
        } else if (SameWord(key, "invert")) {
            at.invert = lineNo;
            if (!OnOff(value, config.invert))
                problems.emplace_back(lineNo, "invert takes on or off, got " + Quoted(value));
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
                problems.emplace_back(lineNo, "index takes a device number from 0 to " + std::to_string(kFtdiIndexMax) +
                                                  ", got " + Quoted(value));
            }
        } else {
            problems.emplace_back(lineNo, "unknown key " + Quoted(key));
        }
    }
    CheckBoardOptions(config, at, problems);
    // Read in file order, whichever check found them.
    std::stable_sort(problems.begin(), problems.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& [line, sentence] : problems)
        config.problems.push_back("line " + std::to_string(line) + ": " + std::move(sentence));
    return config;
}

}  // namespace korvport
