#include "tools/sim_host_options.h"

#include <charconv>
#include <fstream>
#include <sstream>

#include "core/ctext.h"
#include "core/tables.h"

namespace kelvane::simhost {

const char kUsage[] =
    "usage: KorvSimHost.exe --register | --unregister\n"
    "       KorvSimHost.exe [--window] [--freq HZ] [--quit-event NAME]\n"
    "       KorvSimHost.exe --text STRING | --empty | --fail-read [--quit-event NAME]\n"
    "       KorvSimHost.exe --script FILE | --steps HZ:MS[,HZ:MS...] [--repeat N] [--quit-event NAME]\n"
    "       KorvSimHost.exe --sweep [--period MS] [--repeat N] [--quit-event NAME]\n"
    "See tools/README.md.\n";

namespace {

bool ParseCount(std::string_view text, std::uint32_t& value) {
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && ptr == text.data() + text.size() && !text.empty();
}

bool ParseStep(std::string_view hz, std::string_view ms, std::vector<Step>& steps, std::string& error) {
    Step step;
    if (!ParseNumber(hz, step.hertz) || !ParseCount(ms, step.ms)) {
        error = "bad step \"" + std::string(hz) + " " + std::string(ms) + "\" (want hertz and milliseconds)";
        return false;
    }
    steps.push_back(step);
    return true;
}

bool ReadFile(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream all;
    all << in.rdbuf();
    text = all.str();
    return true;
}

}  // namespace

bool ParseNumber(std::string_view text, double& value) {
    text = Trim(text);
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && ptr == text.data() + text.size() && !text.empty();
}

std::string FormatNumber(double value) {
    // Fixed notation, which every reader parses; DBL_MAX needs 309 digits.
    char buf[400];
    const auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
    return ec == std::errc() ? std::string(buf, ptr) : std::string("nan");
}

std::string Describe(const Value& value) {
    switch (value.kind) {
    case Value::Hertz:
        return "hz " + FormatNumber(value.hertz);
    case Value::Text:
        return "text " + value.text;
    case Value::Empty:
        return "empty";
    case Value::Fail:
        break;
    }
    return "fail";
}

bool ParseScript(std::string_view text, std::vector<Step>& steps, std::string& error) {
    std::istringstream lines{std::string(text)};
    std::string line;
    while (std::getline(lines, line)) {
        const std::string_view body = Trim(line);
        if (body.empty() || body.front() == '#') continue;
        std::istringstream fields{std::string(body)};
        std::string hz, ms, extra;
        fields >> hz >> ms >> extra;
        if (!extra.empty()) {
            error = "bad step \"" + std::string(body) + "\" (want hertz and milliseconds)";
            return false;
        }
        if (!ParseStep(hz, ms, steps, error)) return false;
    }
    if (steps.empty()) error = "the script has no steps";
    return !steps.empty();
}

bool ParseStepList(std::string_view text, std::vector<Step>& steps, std::string& error) {
    while (true) {
        const std::size_t comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        const std::size_t colon = item.find(':');
        if (colon == std::string_view::npos) {
            error = "bad step \"" + std::string(item) + "\" (want HZ:MS)";
            return false;
        }
        if (!ParseStep(item.substr(0, colon), item.substr(colon + 1), steps, error)) return false;
        if (comma == std::string_view::npos) return true;
        text.remove_prefix(comma + 1);
    }
}

std::vector<Step> SweepSteps(std::uint32_t periodMs) {
    const BandTable bands;
    std::vector<Step> steps;
    for (int i = 0; i < kBandCount; ++i)
        steps.push_back({(static_cast<double>(bands.low[i]) + bands.high[i]) * 500.0, periodMs});
    return steps;
}

bool ParseOptions(const std::vector<std::string>& args, Options& out, std::string& error) {
    out = Options{};
    if (args.empty()) {
        error = "nothing to serve";
        return false;
    }
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h" || args[0] == "/?")) {
        out.mode = Mode::Help;
        return true;
    }
    if (args[0] == "--register" || args[0] == "--unregister") {
        if (args.size() != 1) {
            error = args[0] + " stands alone";
            return false;
        }
        out.mode = args[0] == "--register" ? Mode::Register : Mode::Unregister;
        return true;
    }

    int sources = 0;
    bool sweep = false, fixedValue = false;
    std::uint32_t period = 2000;
    bool periodGiven = false, repeatGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& opt = args[i];
        const bool takesArg = opt == "--freq" || opt == "--text" || opt == "--script" || opt == "--steps" ||
                              opt == "--period" || opt == "--repeat" || opt == "--quit-event";
        if (takesArg && i + 1 == args.size()) {
            error = opt + " needs a value";
            return false;
        }
        const std::string arg = takesArg ? args[++i] : std::string();
        if (opt == "--freq") {
            ++sources;
            fixedValue = true;
            if (!ParseNumber(arg, out.value.hertz)) {
                error = "bad frequency \"" + arg + "\"";
                return false;
            }
        } else if (opt == "--text") {
            ++sources;
            out.value.kind = Value::Text;
            out.value.text = arg;
        } else if (opt == "--empty") {
            ++sources;
            out.value.kind = Value::Empty;
        } else if (opt == "--fail-read") {
            ++sources;
            out.value.kind = Value::Fail;
        } else if (opt == "--script") {
            ++sources;
            std::string text;
            if (!ReadFile(arg, text)) {
                error = "cannot read the script \"" + arg + "\"";
                return false;
            }
            if (!ParseScript(text, out.steps, error)) return false;
        } else if (opt == "--steps") {
            ++sources;
            if (!ParseStepList(arg, out.steps, error)) return false;
        } else if (opt == "--sweep") {
            ++sources;
            sweep = true;
        } else if (opt == "--window") {
            out.window = true;
        } else if (opt == "--period") {
            periodGiven = true;
            if (!ParseCount(arg, period)) {
                error = "bad period \"" + arg + "\"";
                return false;
            }
        } else if (opt == "--repeat") {
            repeatGiven = true;
            if (!ParseCount(arg, out.repeat)) {
                error = "bad repeat count \"" + arg + "\"";
                return false;
            }
        } else if (opt == "--quit-event") {
            out.quitEvent = arg;
        } else {
            error = "unknown option \"" + opt + "\"";
            return false;
        }
    }

    if (sources > 1)
        error = "give one of --freq, --text, --empty, --fail-read, --script, --steps, --sweep";
    else if (sources == 0 && !out.window)
        error = "nothing to serve";
    else if (out.window && sources == 1 && !fixedValue)
        error = "--window takes only --freq";
    else if (periodGiven && !sweep)
        error = "--period belongs to --sweep";
    else if (repeatGiven && out.steps.empty() && !sweep)
        error = "--repeat belongs to --script, --steps or --sweep";
    if (!error.empty()) return false;

    if (sweep) out.steps = SweepSteps(period);
    return true;
}

}  // namespace kelvane::simhost
