#pragma once
// Command line and step scripts of the simulated host radio. Portable: no OS
// headers, so the parsing is testable anywhere.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kelvane::simhost {

enum class Mode { Help, Register, Unregister, Serve };

// What a frequency read returns.
struct Value {
    enum Kind { Hertz, Text, Empty, Fail } kind = Hertz;
    double hertz = 0.0;
    std::string text;  // served as a string, for values that may not convert
};

struct Step {
    double hertz = 0.0;
    std::uint32_t ms = 0;  // how long it is served before the next one
};

struct Options {
    Mode mode = Mode::Serve;
    Value value;               // served until stopped when there are no steps
    std::vector<Step> steps;   // served in turn; the host exits after the last
    std::uint32_t repeat = 1;  // rounds of the steps; 0 repeats until stopped
    bool window = false;
    std::string quitEvent;  // a named event that stops the host when set
};

bool ParseOptions(const std::vector<std::string>& args, Options& out, std::string& error);

// "HZ MS" per line; blank lines and lines starting with '#' are skipped.
bool ParseScript(std::string_view text, std::vector<Step>& steps, std::string& error);
// "HZ:MS,HZ:MS,..."
bool ParseStepList(std::string_view text, std::vector<Step>& steps, std::string& error);
// The centre of each default band in turn.
std::vector<Step> SweepSteps(std::uint32_t periodMs);

// Hertz as --freq and the steps take them: a decimal number, or nan, inf and
// -inf, which a misbehaving host may serve. Beyond a double's range is refused.
bool ParseNumber(std::string_view text, double& value);
// Shortest fixed-notation text that reads back as the same double.
std::string FormatNumber(double value);
std::string Describe(const Value& value);

extern const char kUsage[];

}  // namespace kelvane::simhost
