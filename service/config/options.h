#pragma once
// The service's options, each declared once: the command line, the config
// file's names and --help are made from this table, and a test holds the man
// page and the packaged config to it.

#include <span>
#include <string>
#include <string_view>

#include "service/config/cli.h"

namespace kelvane::svc {

// Where an option stands once the config has [radio NAME] sections.
enum class OptionReach {
    kStation,       // the whole station
    kRadio,         // each radio's own: with radio sections, only in them
    kRadioDefault,  // each radio's own, or the whole file's for a radio without one
};

struct OptionSpec {
    std::string_view longName;    // "--poll"
    std::string_view shortName;   // "-v"; empty when none
    std::string_view configName;  // "poll"; empty: the command line's alone, applied as it is read
    std::string_view valueName;   // "MS"; empty: a flag, applied with the value "yes"
    OptionReach reach = OptionReach::kStation;
    // Options sharing this refusal are given once between them on the command line.
    std::string_view twice;
    // The value into `options`; false with the refusal in `why`. `name` is longName.
    bool (*apply)(std::string_view name, std::string_view value, Options& options, std::string& why) = nullptr;
    std::string_view help;  // its --help text, lines after the first indented as the first

    // A value that is not UTF-8 text is refused before it is parsed.
    bool Apply(std::string_view value, Options& options, std::string& why) const;
};

// In --help's order.
std::span<const OptionSpec> OptionTable();

// By its long or short name ("--poll", "-v"); nullptr when none.
const OptionSpec* FindOption(std::string_view name);
// By its config name ("poll"); nullptr when none.
const OptionSpec* FindConfigOption(std::string_view name);

}  // namespace kelvane::svc
