#include "service/config/cli.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string_view>

#include <unistd.h>

#include "service/config/config_file.h"
#include "settings/settings_file.h"

namespace kelvane::svc {

const char kHelpText[] =
    R"(Usage: kelvane [OPTIONS]
       kelvane [--settings FILE] settings show
       kelvane [--settings FILE] settings antenna N [--name TEXT] [--value V]
       kelvane [--settings FILE] settings band N [--name TEXT] [--low KHZ] [--high KHZ]
       kelvane [--settings FILE] settings assign BAND ANTENNA
       kelvane status [--json]
       kelvane web-password FILE

Kelvane switches antennas by the rig's frequency. It follows a source for the
frequency and the transmit state (Hamlib's rigctld, a logger's RadioInfo
datagrams, or flrig), finds the band (of ten) holding the frequency, and writes
the byte of the antenna assigned to that band to the output. While the rig
transmits, the output does not change; a band change seen meanwhile is made at
the first reading that reports receive.

Options:
  --config FILE     read "name = value" lines for the long options below
                    (source, rigctld, output, interlock, poll, settings, web,
                    web-password-file, web-cert, web-key, verbose = yes|no;
                    # starts a comment); the command line overrides them.
                    Radios sharing the antennas get a section each, after
                    those lines: [radio NAME] with source (or rigctld),
                    output, interlock (default: as --interlock) and inhibit =
                    BIT (1-8, the line set while the radio has no antenna); no
                    source or output is then given outside them. [band N]
                    with alternates = ANTENNA... to try in turn while the
                    band's antenna is another radio's. Every line under a
                    section header belongs to that section.
  --settings FILE   the band and antenna tables, in the Windows program's file
                    layout (default $XDG_CONFIG_HOME/kelvane/Kelvaneer12.ini;
                    a missing file means the first-start defaults)
  --source SPEC     what to follow (default rigctld:localhost:4532); SPEC is one of
                      rigctld:HOST:PORT       Hamlib's rigctld, polled ('f', 't')
                      udp:[ADDR:]PORT[,radio=N]
                                              a logger's RadioInfo datagrams (port
                                              12060, all interfaces and radio 1 by
                                              default); switches as each arrives;
                                              lost after 30 s without one
                      flrig:HOST:PORT         flrig's XML-RPC (port 12345), polled
  --rigctld HOST:PORT
                    the same as --source rigctld:HOST:PORT
  --poll MS         poll period in milliseconds, 20 to 5000 (default 100)
  --output SPEC     where the antenna's byte goes (default journal on standard
                    output); SPEC is one of
                      journal:PATH            one line per write, appended to PATH
                                              (a regular file or a terminal):
                                              <unix time in us> byte=0xNN antenna=N NAME
                      parport:/dev/parportN   the data lines of a parallel port (ppdev)
                      gpio:CHIP:L0,...,L7     up to eight GPIO lines, D0 first (libgpiod),
                                              CHIP as gpiochip0, /dev/gpiochip0 or 0
                      ftdi:SERIAL | ftdi:#N   an FT232R board (0403:6001) in bit-bang
                      hidrelay:SERIAL | hidrelay:first
                                              a USBRelay1-8 board (16c0:05df) on hidraw
                    add ,invert for boards whose relays close on a low line
  --interlock MODE  auto: hold switching while the rig transmits, when the
                          source gives a transmit state (default; a warning
                          when not)
                    required: never switch without a transmit state
                    off: never ask for the transmit state
                    With udp the logger reports only the transmissions it keys
                    itself (a footswitch or paddle is not reported), so required
                    is honest only with a hardware PTT sense, which this source
                    does not have; auto switches, with a warning once at start.
  --web [ADDR:]PORT serve the web console and its JSON API there (default
                    address 127.0.0.1; an IPv6 address in brackets, [::1]:8080).
                    Any address but loopback needs --web-password-file
  --web-password-file FILE
                    the password hash `kelvane web-password FILE` wrote; the
                    console then asks for the password
  --web-cert FILE   serve the console over TLS with this certificate (PEM) and
  --web-key FILE    this private key; both or neither
  -v, --verbose     log every output write
  -h, --help        this text
  --version         the version

The settings command edits the tables without a window, with the dialogs'
rules: names are one line of text; values are unsigned decimal numbers (only the
low byte reaches the output); band edges are whole kHz, inclusive. Bands and
antennas count from 1, or are given by their names. Refused input leaves the
file untouched and exits with status 2.

The status command prints what the running service does now, from the state
file it keeps in $RUNTIME_DIRECTORY (/run/kelvane; for a user's run outside
systemd, $XDG_RUNTIME_DIR/kelvane); --json gives the web console's state
document. It exits 0 when the service runs, 3 when none does, 4 when the state
is stale. The web-password command reads a password from standard input and
writes its hash to FILE.

Signals: SIGTERM and SIGINT end the program (the output keeps its state);
SIGHUP reads the config and the settings file again (a config that no longer
reads keeps everything as it was; a new source or output is switched to).

Exit status: 0 on success, 1 when the program cannot run (settings unreadable,
cannot save), 2 on a usage error or refused settings input.
)";

namespace {

bool ParseInterlock(std::string_view text, Interlock& mode) {
    if (text == "auto")
        mode = Interlock::kAuto;
    else if (text == "off")
        mode = Interlock::kOff;
    else if (text == "required")
        mode = Interlock::kRequired;
    else
        return false;
    return true;
}

// The long options that take a value, as the config file names them too.
constexpr std::string_view kValued[] = {"settings",  "source", "rigctld",           "poll",     "output",
                                        "interlock", "web",    "web-password-file", "web-cert", "web-key"};
constexpr std::string_view kConfigNames[] = {
    "settings", "source", "rigctld",           "poll",     "output", "interlock",
    "verbose",  "web",    "web-password-file", "web-cert", "web-key"};

constexpr std::string_view kRadioNames[] = {"source", "rigctld", "output", "interlock", "inhibit"};
constexpr std::string_view kBandNames[] = {"alternates"};
constexpr ConfigSectionKind kSections[] = {{"radio", "[radio NAME]", kRadioNames}, {"band", "[band N]", kBandNames}};

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

// One option's value into `o`; false with the reason.
bool Apply(std::string_view name, std::string_view value, Options& o, std::string& why) {
    if (name == "settings") {
        if (value.empty()) {
            why = "--settings needs a file name";
            return false;
        }
        o.settingsPath = std::string(value);
    } else if (name == "source" || name == "rigctld") {
        const std::string text = name == "rigctld" ? "rigctld:" + std::string(value) : std::string(value);
        std::string problem;
        if (name == "rigctld" && !ParseEndpoint(value, o.source.endpoint)) {
            why = "--rigctld \"" + std::string(value) + "\": expected HOST:PORT, as in localhost:4532";
            return false;
        }
        if (!ParseSourceSpec(text, o.source, problem)) {
            why = "--" + std::string(name) + " \"" + std::string(value) + "\": " + problem;
            return false;
        }
        o.sourceText = text;
    } else if (name == "poll") {
        int ms = 0;
        const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), ms);
        if (value.empty() || ec != std::errc() || end != value.data() + value.size() || ms < 20 || ms > 5000) {
            why = "--poll \"" + std::string(value) + "\": expected whole milliseconds from 20 to 5000";
            return false;
        }
        o.poll = std::chrono::milliseconds{ms};
    } else if (name == "output") {
        std::string problem;
        if (!ParseOutputSpec(value, o.output, problem)) {
            why = "--output \"" + std::string(value) + "\": " + problem;
            return false;
        }
        o.outputText = std::string(value);
    } else if (name == "interlock") {
        if (!ParseInterlock(value, o.interlock)) {
            why = "--interlock \"" + std::string(value) + "\": expected auto, off or required";
            return false;
        }
    } else if (name == "web") {
        web::WebSpec spec;
        std::string problem;
        if (!web::ParseWebSpec(value, spec, problem)) {
            why = "--web \"" + std::string(value) + "\": " + problem;
            return false;
        }
        o.web = spec;
    } else if (name == "web-password-file" || name == "web-cert" || name == "web-key") {
        if (value.empty()) {
            why = "--" + std::string(name) + " needs a file name";
            return false;
        }
        (name == "web-cert" ? o.webCert : name == "web-key" ? o.webKey : o.webPasswordFile) = value;
    } else if (name == "verbose") {
        if (value != "yes" && value != "no") {
            why = "verbose \"" + std::string(value) + "\": expected yes or no";
            return false;
        }
        o.verbose = value == "yes";
    }
    return true;
}

// [radio NAME] and [band N] into `o`; the radios without an interlock of their
// own go to `interlockFromTop`, to take the top level's once the command line is in.
bool ApplySections(const ConfigFile& file, Options& o, std::vector<std::size_t>& interlockFromTop,
                   const std::function<bool(int, const std::string&)>& refuse) {
    std::vector<int> outputLines;  // per radio, for a clash found later
    for (const ConfigSection& s : file.sections) {
        const auto find = [&](std::string_view name) {
            const auto at = s.options.find(name);
            return at == s.options.end() ? nullptr : &at->second;
        };
        const std::string header = "[" + s.kind + " " + s.name + "]";
        if (s.kind == "band") {
            const auto band = Counted(s.name, kBandCount);
            if (!band) return refuse(s.line, header + ": bands are 1 to " + std::to_string(kBandCount));
            const ConfigValue* alternates = find("alternates");
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
            continue;
        }
        if (!RadioName(s.name))
            return refuse(s.line, header + ": a radio's name is 1 to 16 letters, digits, '-' or '_'");
        const ConfigValue *source = find("source"), *rigctld = find("rigctld"), *output = find("output");
        if (source && rigctld)
            return refuse(std::max(source->line, rigctld->line), "source and rigctld both name the source");
        if (!source && !rigctld) return refuse(s.line, header + " has no source");
        if (!output) return refuse(s.line, header + " has no output");
        Options scratch;
        std::string why;
        const ConfigValue* from = source ? source : rigctld;
        if (!Apply(source ? "source" : "rigctld", from->value, scratch, why)) return refuse(from->line, why);
        if (!Apply("output", output->value, scratch, why)) return refuse(output->line, why);
        const ConfigValue* interlock = find("interlock");
        if (interlock && !Apply("interlock", interlock->value, scratch, why)) return refuse(interlock->line, why);
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
        if (const ConfigValue* inhibit = find("inhibit")) {
            radio.inhibit = Counted(inhibit->value, 8);
            if (!radio.inhibit)
                return refuse(inhibit->line, "inhibit \"" + inhibit->value + "\": expected an output line from 1 to 8");
            radio.inhibitLine = inhibit->line;
        }
        if (!interlock) interlockFromTop.push_back(o.radios.size());
        outputLines.push_back(output->line);
        o.radios.push_back(std::move(radio));
    }
    return true;
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
    const ConfigRead read = ReadConfig(text, kConfigNames, kSections);
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
            if ((option.first == "source" || option.first == "rigctld" || option.first == "output") &&
                (!first || option.second.line < first->second.line))
                first = &option;
        if (first)
            return refuse(first->second.line, first->first +
                                                  " before the sections: which radio is it for? Each [radio NAME] "
                                                  "has its own source and output");
    }
    for (const auto& [name, v] : options) {
        std::string why;
        if (!Apply(name, v.value, o, why)) return refuse(v.line, why);
    }
    return ApplySections(*read.file, o, interlockFromTop, refuse);
}

}  // namespace

bool ParseCommandLine(int argc, const char* const* argv, Options& o, std::string& error) {
    return ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), o, error);
}

bool ParseCommandLine(const std::vector<std::string>& args, Options& o, std::string& error) {
    o.settingsPath = DefaultSettingsPath();
    o.commandLine = args;
    // The command line first, into pairs, so that the config under it is read before they apply.
    std::vector<std::pair<std::string, std::string>> given;
    bool configGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view arg = args[i];
        if (arg == "settings") {
            o.settingsCommand = true;
            o.settingsArgs.assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
            break;
        }
        if (arg == "web-password") {
            o.webPasswordCommand = true;
            o.webPasswordArgs.assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
            break;
        }
        if (arg == "status") {
            o.statusCommand = true;
            for (std::size_t j = i + 1; j < args.size(); ++j) {
                if (args[j] != "--json") {
                    error = "status: unknown option \"" + args[j] + "\"";
                    return false;
                }
                o.statusJson = true;
            }
            break;
        }
        if (arg == "--help" || arg == "-h") {
            o.help = true;
            continue;
        }
        if (arg == "--version") {
            o.version = true;
            continue;
        }
        if (arg == "--verbose" || arg == "-v") {
            given.emplace_back("verbose", "yes");
            continue;
        }
        // --name VALUE or --name=VALUE
        std::string_view name = arg, value;
        bool inlineValue = false;
        if (const auto eq = arg.find('='); arg.substr(0, 2) == "--" && eq != std::string_view::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            inlineValue = true;
        }
        const std::string_view bare = name.substr(0, 2) == "--" ? name.substr(2) : std::string_view{};
        if (bare != "config" && std::find(std::begin(kValued), std::end(kValued), bare) == std::end(kValued)) {
            error = "unknown option \"" + std::string(arg) + "\"";
            return false;
        }
        if (!inlineValue) {
            if (i + 1 >= args.size()) {
                error = std::string(name) + " needs a value";
                return false;
            }
            value = args[++i];
        }
        if (bare == "config") {
            if (configGiven || value.empty()) {
                error = configGiven ? "--config is given twice" : "--config needs a file name";
                return false;
            }
            configGiven = true;
            o.configPath = std::string(value);
            continue;
        }
        // One output and one source: a second is a mistake, not an override.
        const auto key = [](std::string_view n) { return n == "rigctld" ? std::string_view("source") : n; };
        for (const auto& [before, unused] : given) {
            if (key(before) != key(bare) || (key(bare) != "output" && key(bare) != "source")) continue;
            error = key(bare) == "output" ? "--output is given twice; kelvane drives one output"
                                          : "the source is given twice (--source, --rigctld); kelvane follows one";
            return false;
        }
        given.emplace_back(bare, value);
    }
    o.radios.clear();
    o.alternates = {};
    std::vector<std::size_t> interlockFromTop;
    if (configGiven && !ApplyConfig(o.configPath, o, interlockFromTop, error)) return false;
    for (const auto& [name, value] : given) {
        if (!o.radios.empty() && (name == "source" || name == "rigctld" || name == "output")) {
            error = "--" + name + " with a config that has radios: each radio's source and output are in the " +
                    "config's [radio] sections";
            return false;
        }
        if (!Apply(name, value, o, error)) return false;
    }
    // --interlock on the command line stands for the config's top level, here too.
    for (const std::size_t i : interlockFromTop) o.radios[i].interlock = o.interlock;
    if (o.webCert.empty() != o.webKey.empty()) {
        error = "--web-cert and --web-key go together";
        return false;
    }
    if (!o.web && (!o.webCert.empty() || !o.webPasswordFile.empty())) {
        error = "--web-password-file, --web-cert and --web-key need --web";
        return false;
    }
    return true;
}

}  // namespace kelvane::svc
