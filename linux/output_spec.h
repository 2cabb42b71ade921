#pragma once
// --output's SPEC: which kind of output, and where.

#include <string>
#include <string_view>
#include <vector>

namespace kelvane::svc {

struct OutputSpec {
    enum Kind { kJournal, kParport, kGpio, kFtdi, kHidRelay } kind = kJournal;
    std::string target;           // path, chip, serial or #index, serial or "first"; empty journal: stdout
    std::vector<unsigned> lines;  // gpio: D0 first
    bool invert = false;
    std::string radio;  // not parsed: the service names the radio when there are several
};
// Parses --output's SPEC; on failure `error` says what is wrong.
bool ParseOutputSpec(std::string_view text, OutputSpec& spec, std::string& error);

}  // namespace kelvane::svc
