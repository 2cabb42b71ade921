#include "service/config/cli.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string_view>

#include "service/config/config_file.h"
#include "service/config/options.h"
#include "settings/settings_file.h"

namespace kelvane::svc {

namespace {

using Refuser = std::function<bool(int, const std::string&)>;

// 1 to `most` in plain decimal: no sign, no leading zero, so that "[band 03]"
// cannot stand beside "[band 3]".
std::optional<int> Counted(std::string_view text, int most) {
    int n = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (text.empty() || text[0] < '1' || text[0] > '9' || ec != std::errc() || end != text.data() + text.size() ||
        n > most)
        return std::nullopt;
    return n;
}

// It shows in log lines, the journal's "radio=NAME" and JSON: nothing to quote.
bool RadioName(std::string_view name) {
    return !name.empty() && name.size() <= 16 && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
    });
}

// A config option's value into `o`; the name is one the config file was read with.
bool ApplyConfigValue(std::string_view name, const std::string& value, Options& o, std::string& why) {
    return FindConfigOption(name)->Apply(value, o, why);
}

const ConfigValue* Find(const ConfigSection& s, std::string_view name) {
    const auto at = s.options.find(name);
    return at == s.options.end() ? nullptr : &at->second;
}

// [band N]: the antennas to try, in turn, while the band's own is another radio's.
bool ApplyBand(const ConfigSection& s, const std::string& header, Options& o, const Refuser& refuse) {
    const auto band = Counted(s.name, kBandCount);
    if (!band) return refuse(s.line, header + ": bands are 1 to " + std::to_string(kBandCount));
    const ConfigValue* alternates = Find(s, "alternates");
    if (!alternates) return refuse(s.line, header + " without alternates");
    std::vector<int>& list = o.alternates[static_cast<std::size_t>(*band - 1)];
    for (std::string_view rest = alternates->value; !rest.empty();) {
        const std::size_t end = std::min(rest.find_first_of(" \t"), rest.size());
        const std::string_view word = rest.substr(0, end);
        rest.remove_prefix(std::min(rest.find_first_not_of(" \t", end), rest.size()));
        const auto antenna = Counted(word, kAntennaCount);
        if (!antenna)
            return refuse(alternates->line, "alternates \"" + std::string(word) + "\": antennas are 1 to " +
                                                std::to_string(kAntennaCount) + ", separated by blanks");
        if (std::find(list.begin(), list.end(), *antenna - 1) != list.end())
            return refuse(alternates->line, "alternates: antenna " + std::string(word) + " is given twice");
        list.push_back(*antenna - 1);
    }
    return true;
}

// [radio NAME] onto `o.radios`; `outputLines` holds each radio's output line, for a clash.
bool ApplyRadio(const ConfigSection& s, const std::string& header, Options& o, std::vector<int>& outputLines,
                std::vector<std::size_t>& interlockFromTop, const Refuser& refuse) {
    if (!RadioName(s.name)) return refuse(s.line, header + ": a radio's name is 1 to 16 letters, digits, '-' or '_'");
    const ConfigValue *source = Find(s, "source"), *rigctld = Find(s, "rigctld"), *output = Find(s, "output");
    if (source && rigctld)
        return refuse(std::max(source->line, rigctld->line), "source and rigctld both name the source");
    if (!source && !rigctld) return refuse(s.line, header + " has no source");
    if (!output) return refuse(s.line, header + " has no output");
    Options scratch;
    std::string why;
    const ConfigValue* from = source ? source : rigctld;
    if (!ApplyConfigValue(source ? "source" : "rigctld", from->value, scratch, why)) return refuse(from->line, why);
    if (!ApplyConfigValue("output", output->value, scratch, why)) return refuse(output->line, why);
    const ConfigValue* interlock = Find(s, "interlock");
    if (interlock && !ApplyConfigValue("interlock", interlock->value, scratch, why))
        return refuse(interlock->line, why);
    for (std::size_t i = 0; i < o.radios.size(); ++i)
        if (OutputsClash(o.radios[i].output, scratch.output))
            return refuse(output->line, "output \"" + output->value + "\" is radio " + o.radios[i].name +
                                            "'s output too (line " + std::to_string(outputLines[i]) + ")");
    RadioOptions radio;
    radio.name = s.name;
    radio.line = s.line;
    radio.sourceText = scratch.sourceText;
    radio.source = scratch.source;
    radio.outputText = scratch.outputText;
    radio.output = scratch.output;
    radio.interlock = scratch.interlock;
    if (const ConfigValue* inhibit = Find(s, "inhibit")) {
        radio.inhibit = Counted(inhibit->value, 8);
        if (!radio.inhibit)
            return refuse(inhibit->line, "inhibit \"" + inhibit->value + "\": expected an output line from 1 to 8");
        radio.inhibitLine = inhibit->line;
    }
    if (!interlock) interlockFromTop.push_back(o.radios.size());
    outputLines.push_back(output->line);
    o.radios.push_back(std::move(radio));
    return true;
}

// [radio NAME] and [band N] into `o`; the radios without an interlock of their
// own go to `interlockFromTop`, to take the top level's once the command line is in.
bool ApplySections(const ConfigFile& file, Options& o, std::vector<std::size_t>& interlockFromTop,
                   const Refuser& refuse) {
    std::vector<int> outputLines;  // per radio, for a clash found later
    for (const ConfigSection& s : file.sections) {
        const std::string header = "[" + s.kind + " " + s.name + "]";
        if (!(s.kind == "band" ? ApplyBand(s, header, o, refuse)
                               : ApplyRadio(s, header, o, outputLines, interlockFromTop, refuse)))
            return false;
    }
    return true;
}

// The table's config names at the top; in [radio NAME] a radio's own and its
// inhibit line; in [band N] its alternates.
ConfigRead ReadConfigText(std::string_view text) {
    std::vector<std::string_view> top, radio{"inhibit"};
    for (const OptionSpec& option : OptionTable()) {
        if (option.configName.empty()) continue;
        top.push_back(option.configName);
        if (option.reach != OptionReach::kStation) radio.push_back(option.configName);
    }
    static constexpr std::string_view kBandNames[] = {"alternates"};
    const ConfigSectionKind sections[] = {{"radio", "[radio NAME]", radio}, {"band", "[band N]", kBandNames}};
    return ReadConfig(text, top, sections);
}

// The config file's options into `o`, each refusal with its line.
bool ApplyConfig(const std::string& path, Options& o, std::vector<std::size_t>& interlockFromTop, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "--config \"" + path + "\": cannot read it (" + std::strerror(errno) + ")";
        return false;
    }
    std::string text(kConfigMaxBytes + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    const ConfigRead read = ReadConfigText(text);
    if (!read.file) {
        error = path + ": " + read.error;
        return false;
    }
    const auto refuse = [&](int line, const std::string& why) {
        error = path + ": line " + std::to_string(line) + ": " + why;
        return false;
    };
    const auto& options = read.file->options;
    if (const auto s = options.find("source"), r = options.find("rigctld"); s != options.end() && r != options.end())
        return refuse(std::max(s->second.line, r->second.line), "source and rigctld both name the source");
    if (std::any_of(read.file->sections.begin(), read.file->sections.end(),
                    [](const ConfigSection& s) { return s.kind == "radio"; })) {
        const ConfigOptions::value_type* first = nullptr;
        for (const auto& option : options)
            if (FindConfigOption(option.first)->reach == OptionReach::kRadio &&
                (!first || option.second.line < first->second.line))
                first = &option;
        if (first)
            return refuse(first->second.line, first->first +
                                                  " before the sections: which radio is it for? Each [radio NAME] "
                                                  "has its own source and output");
    }
    for (const auto& [name, v] : options) {
        std::string why;
        if (!ApplyConfigValue(name, v.value, o, why)) return refuse(v.line, why);
    }
    return ApplySections(*read.file, o, interlockFromTop, refuse);
}

enum class Word { kOption, kCommand, kRefused };

// "settings", "web-password", "web-token" and "status" take the words after them.
Word Command(const std::vector<std::string>& args, std::size_t i, Options& o, std::string& error) {
    const std::string& word = args[i];
    const auto rest = args.begin() + static_cast<std::ptrdiff_t>(i) + 1;
    if (word == "settings") {
        o.settingsCommand = true;
        o.settingsArgs.assign(rest, args.end());
    } else if (word == "web-password" || word == "web-token") {
        (word == "web-token" ? o.webTokenCommand : o.webPasswordCommand) = true;
        o.webPasswordArgs.assign(rest, args.end());
    } else if (word == "status") {
        o.statusCommand = true;
        for (auto at = rest; at != args.end(); ++at) {
            if (*at != "--json") {
                error = "status: unknown option \"" + *at + "\"";
                return Word::kRefused;
            }
            o.statusJson = true;
        }
    } else {
        return Word::kOption;
    }
    return Word::kCommand;
}

using Given = std::vector<std::pair<const OptionSpec*, std::string>>;

// args[i] as an option, with its value (the next word, or after '='); `i`
// moves past what it takes. Options the config takes wait in `given`, the
// command line's own apply at once.
bool ReadOption(const std::vector<std::string>& args, std::size_t& i, Options& o, Given& given,
                std::vector<const OptionSpec*>& seen, std::string& error) {
    const std::string_view arg = args[i];
    std::string_view name = arg, value = "yes";
    const auto eq = arg.find('=');
    const bool inlineValue = arg.substr(0, 2) == "--" && eq != std::string_view::npos;
    if (inlineValue) {
        name = arg.substr(0, eq);
        value = arg.substr(eq + 1);
    }
    const OptionSpec* spec = FindOption(name);
    if (!spec || (spec->valueName.empty() && inlineValue)) {
        error = "unknown option \"" + std::string(arg) + "\"";
        return false;
    }
    if (!spec->valueName.empty() && !inlineValue) {
        if (i + 1 >= args.size()) {
            error = std::string(name) + " needs a value";
            return false;
        }
        value = args[++i];
    }
    // One output, one source and one config: a second is a mistake, not an override.
    for (const OptionSpec* before : seen)
        if (!spec->twice.empty() && before->twice == spec->twice) {
            error = spec->twice;
            return false;
        }
    seen.push_back(spec);
    if (spec->configName.empty()) return spec->Apply(value, o, error);
    given.emplace_back(spec, value);
    return true;
}

// The command line's options, after the config's so that they override it.
bool ApplyGiven(const Given& given, Options& o, std::string& error) {
    for (const auto& [spec, value] : given) {
        if (!o.radios.empty() && spec->reach == OptionReach::kRadio) {
            error = std::string(spec->longName) + " with a config that has radios: each radio's source and output " +
                    "are in the config's [radio] sections";
            return false;
        }
        if (!spec->Apply(value, o, error)) return false;
    }
    return true;
}

}  // namespace

bool ParseCommandLine(int argc, const char* const* argv, Options& o, std::string& error) {
    return ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), o, error);
}

bool ParseCommandLine(const std::vector<std::string>& args, Options& o, std::string& error) {
    o.settingsPath = DefaultSettingsPath();
    o.commandLine = args;
    o.configPath.clear();
    // The command line first, so that the config under it is read before its options apply.
    Given given;
    std::vector<const OptionSpec*> seen;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const Word word = Command(args, i, o, error);
        if (word == Word::kRefused) return false;
        if (word == Word::kCommand) break;
        if (!ReadOption(args, i, o, given, seen, error)) return false;
    }
    o.radios.clear();
    o.alternates = {};
    std::vector<std::size_t> interlockFromTop;
    if (!o.configPath.empty() && !ApplyConfig(o.configPath, o, interlockFromTop, error)) return false;
    if (!ApplyGiven(given, o, error)) return false;
    // --interlock on the command line stands for the config's top level, here too.
    for (const std::size_t i : interlockFromTop) o.radios[i].interlock = o.interlock;
    if (o.webCert.empty() != o.webKey.empty()) {
        error = "--web-cert and --web-key go together";
        return false;
    }
    if (!o.web && (!o.webCert.empty() || !o.webPasswordFile.empty() || !o.webTokenFile.empty())) {
        error = "--web-password-file, --web-token-file, --web-cert and --web-key need --web";
        return false;
    }
    return true;
}

}  // namespace kelvane::svc
