#pragma once
// --output's SPEC: which kind of output, and where.

#include <string>
#include <string_view>
#include <vector>

namespace kelvane::svc {

struct OutputSpec {
    enum Kind { kJournal, kParport, kGpio, kFtdi, kHidRelay, kNone } kind = kJournal;
    std::string target;           // path, chip, serial or #index, serial or "first"; empty journal: stdout
    std::vector<unsigned> lines;  // gpio: D0 first
    bool invert = false;
    std::string radio;  // not parsed: the service names the radio when there are several
};
// Parses --output's SPEC; on failure `error` says what is wrong.
bool ParseOutputSpec(std::string_view text, OutputSpec& spec, std::string& error);

// Whether two outputs would drive the same lines, as far as their specs tell:
// the same kind and target (a journal with no path is standard output; a gpio
// chip by number, name or /dev path is one chip) and, for gpio, a line in
// common. A board picked by position (hidrelay:first, ftdi:#N) may be the one
// another names by serial, so it clashes with any of its kind but another
// position. ",invert" does not make another output.
bool OutputsClash(const OutputSpec& a, const OutputSpec& b);

}  // namespace kelvane::svc
