#pragma once
// The service's config file: "name = value" lines for the long options, and
// sections ("[radio A]") with names of their own, read by a pure function so
// that the caller applies them under its command line.

#include <cstddef>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kelvane::svc {

constexpr std::size_t kConfigMaxBytes = 64 * 1024;

struct ConfigValue {
    std::string value;
    int line = 0;  // from 1, for messages
};

using ConfigOptions = std::map<std::string, ConfigValue, std::less<>>;

// "[radio A]" and the lines under it, up to the next section.
struct ConfigSection {
    std::string kind;  // "radio"
    std::string name;  // "A": what follows the kind, blanks around it dropped
    int line = 0;      // of the header
    ConfigOptions options;
};

struct ConfigFile {
    ConfigOptions options;                // before the first section
    std::vector<ConfigSection> sections;  // in the file's order
};

// A kind of section the caller takes, and the names allowed in it.
struct ConfigSectionKind {
    std::string_view kind;  // "radio"
    std::string_view form;  // "[radio NAME]", for messages
    std::span<const std::string_view> known;
};

struct ConfigRead {
    std::optional<ConfigFile> file;  // nothing when refused
    std::string error;               // "line N: why", when refused
};

// Blank lines and lines whose first non-blank is '#' are skipped; blanks
// around names and values are not part of them. A header that is not
// "[KIND NAME]" of a kind in `sections`, the same section twice, a name not
// known where it stands, a name given twice in one section (or at the top), a
// line without '=', an empty value or a control character refuses the whole text.
ConfigRead ReadConfig(std::string_view text, std::span<const std::string_view> known,
                      std::span<const ConfigSectionKind> sections = {});

}  // namespace kelvane::svc
