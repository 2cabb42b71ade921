#include "service/config/output_spec.h"

#include <algorithm>
#include <charconv>

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

// One chip by number, name or path: "0", "gpiochip0" and "/dev/gpiochip0" give
// "0"; a label or another path stays as it is.
std::string_view ChipId(std::string_view chip) {
    std::string_view n = chip;
    for (const std::string_view prefix : {"/dev/", "gpiochip"})
        if (n.substr(0, prefix.size()) == prefix) n.remove_prefix(prefix.size());
    const bool number = !n.empty() && std::all_of(n.begin(), n.end(), [](char c) { return c >= '0' && c <= '9'; });
    return number ? n : chip;
}

bool ByPosition(const OutputSpec& o) {
    return (o.kind == OutputSpec::kHidRelay && o.target == "first") ||
           (o.kind == OutputSpec::kFtdi && !o.target.empty() && o.target[0] == '#');
}

}  // namespace

bool OutputsClash(const OutputSpec& a, const OutputSpec& b) {
    if (a.kind != b.kind || a.kind == OutputSpec::kNone) return false;
    if (a.kind == OutputSpec::kGpio)
        return ChipId(a.target) == ChipId(b.target) && std::any_of(a.lines.begin(), a.lines.end(), [&](unsigned l) {
                   return std::find(b.lines.begin(), b.lines.end(), l) != b.lines.end();
               });
    if (ByPosition(a) != ByPosition(b)) return true;
    return a.target == b.target;
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
    if (text == "none") {
        spec.kind = OutputSpec::kNone;
        return true;
    }
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
                    : "unknown output \"" + std::string(kind) + "\" (journal, parport, gpio, ftdi, hidrelay or none)";
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
        error = "unknown output \"" + std::string(kind) + "\" (journal, parport, gpio, ftdi, hidrelay or none)";
        return false;
    }
    return true;
}

}  // namespace kelvane::svc
