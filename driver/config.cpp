#include "driver/config.h"

#include <cctype>

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

}  // namespace

Config ParseConfig(std::string_view text) {
    Config config;
    int lineNo = 0;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view raw = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++lineNo;

        const std::string_view line = Trim(raw);
        if (line.empty() || line.front() == '#' || line.front() == ';') continue;
        const std::string where = "line " + std::to_string(lineNo) + ": ";
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
            } else {
                config.backend = Backend::Unknown;
                config.problems.push_back(where + "unknown backend " + Quoted(value) + " (hardware or journal)");
            }
        } else if (SameWord(key, "journal")) {
            if (value.empty())
                config.problems.push_back(where + "empty journal path, keeping " + Quoted(config.journal));
            else
                config.journal = value;
        } else if (SameWord(key, "qpc")) {
            if (SameWord(value, "on"))
                config.qpc = true;
            else if (SameWord(value, "off"))
                config.qpc = false;
            else
                config.problems.push_back(where + "qpc takes on or off, got " + Quoted(value));
        } else {
            config.problems.push_back(where + "unknown key " + Quoted(key));
        }
    }
    return config;
}

}  // namespace korvport
