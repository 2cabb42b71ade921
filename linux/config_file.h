#pragma once
// The service's config file: "name = value" lines for the long options, read
// by a pure function so that the caller applies them under its command line.

#include <cstddef>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kelvane::svc {

constexpr std::size_t kConfigMaxBytes = 64 * 1024;

struct ConfigValue {
    std::string value;
    int line = 0;  // from 1, for messages
};

// Options by name. Sections ("[radio A]") will read into maps of their own
// beside this one.
struct ConfigFile {
    std::map<std::string, ConfigValue, std::less<>> options;
};

struct ConfigRead {
    std::optional<ConfigFile> file;  // nothing when refused
    std::string error;               // "line N: why", when refused
};

// Blank lines and lines whose first non-blank is '#' are skipped; blanks
// around names and values are not part of them. A name not in `known`, a name
// given twice, a line without '=', an empty value, a section header or a
// control character refuses the whole text.
ConfigRead ReadConfig(std::string_view text, std::span<const std::string_view> known);

}  // namespace kelvane::svc
