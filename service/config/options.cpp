#include "service/config/options.h"

#include <algorithm>
#include <charconv>

#include "service/base/text.h"

namespace kelvane::svc {
namespace {

bool Refuse(std::string& why, std::string text) {
    why = std::move(text);
    return false;
}

// "--poll \"19\": why", as the command line and the config file both say it.
bool RefuseValue(std::string& why, std::string_view name, std::string_view value, std::string_view problem) {
    return Refuse(why, std::string(name) + " \"" + std::string(value) + "\": " + std::string(problem));
}

template <std::string Options::*Field>
bool FileName(std::string_view name, std::string_view value, Options& o, std::string& why) {
    if (value.empty()) return Refuse(why, std::string(name) + " needs a file name");
    o.*Field = std::string(value);
    return true;
}

bool Source(std::string_view name, std::string_view value, Options& o, std::string& why) {
    const bool rigctld = name == "--rigctld";
    const std::string text = rigctld ? "rigctld:" + std::string(value) : std::string(value);
    std::string problem;
    if (rigctld && !ParseEndpoint(value, o.source.endpoint))
        return RefuseValue(why, name, value, "expected HOST:PORT, as in localhost:4532");
    if (!ParseSourceSpec(text, o.source, problem)) return RefuseValue(why, name, value, problem);
    o.sourceText = text;
    return true;
}

bool Poll(std::string_view name, std::string_view value, Options& o, std::string& why) {
    int ms = 0;
    const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), ms);
    if (value.empty() || ec != std::errc() || end != value.data() + value.size() || ms < 20 || ms > 5000)
        return RefuseValue(why, name, value, "expected whole milliseconds from 20 to 5000");
    o.poll = std::chrono::milliseconds{ms};
    return true;
}

bool Output(std::string_view name, std::string_view value, Options& o, std::string& why) {
    std::string problem;
    if (!ParseOutputSpec(value, o.output, problem)) return RefuseValue(why, name, value, problem);
    o.outputText = std::string(value);
    return true;
}

bool InterlockMode(std::string_view name, std::string_view value, Options& o, std::string& why) {
    if (value == "auto")
        o.interlock = Interlock::kAuto;
    else if (value == "off")
        o.interlock = Interlock::kOff;
    else if (value == "required")
        o.interlock = Interlock::kRequired;
    else
        return RefuseValue(why, name, value, "expected auto, off or required");
    return true;
}

bool Web(std::string_view name, std::string_view value, Options& o, std::string& why) {
    web::WebSpec spec;
    std::string problem;
    if (!web::ParseWebSpec(value, spec, problem)) return RefuseValue(why, name, value, problem);
    o.web = spec;
    return true;
}

bool WebHosts(std::string_view name, std::string_view value, Options& o, std::string& why) {
    std::vector<std::string> hosts;
    for (std::size_t at = 0; at <= value.size();) {
        const std::size_t end = std::min(value.find(',', at), value.size());
        std::string_view part = value.substr(at, end - at);
        part.remove_prefix(std::min(part.find_first_not_of(' '), part.size()));
        part.remove_suffix(part.size() - (part.find_last_not_of(' ') + 1));
        Endpoint host;
        if (ParseEndpoint(part, {EndpointForm::kHost}, host).kind != EndpointFault::kNone || !host.port.empty() ||
            host.host.find_first_of(" \t/") != std::string::npos)
            return RefuseValue(why, name, value,
                               std::string("\"").append(part).append("\" is not a host name or address"));
        hosts.push_back(host.host);
        at = end + 1;
    }
    o.webHosts = std::move(hosts);
    return true;
}

bool Mqtt(std::string_view name, std::string_view value, Options& o, std::string& why) {
    BrokerSpec spec;
    std::string problem;
    if (!ParseBrokerUrl(value, spec, problem)) return RefuseValue(why, name, value, problem);
    o.mqtt = spec;
    return true;
}

// A topic level and an entity id both: nothing MQTT or Home Assistant reads as syntax.
bool TopicWord(std::string_view value) {
    return !value.empty() && value.size() <= 64 && std::all_of(value.begin(), value.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
    });
}

bool MqttStation(std::string_view name, std::string_view value, Options& o, std::string& why) {
    if (!TopicWord(value)) return RefuseValue(why, name, value, "expected 1 to 64 letters, digits, '-' or '_'");
    o.mqttStation = std::string(value);
    return true;
}

bool MqttDiscovery(std::string_view name, std::string_view value, Options& o, std::string& why) {
    if (!TopicWord(value))
        return RefuseValue(why, name, value, "expected a prefix of letters, digits, '-' or '_', or no");
    o.mqttDiscovery = value == "no" ? "" : std::string(value);
    return true;
}

bool Verbose(std::string_view, std::string_view value, Options& o, std::string& why) {
    // The config's word, so its refusal names the config's option.
    if (value != "yes" && value != "no") return RefuseValue(why, "verbose", value, "expected yes or no");
    o.verbose = value == "yes";
    return true;
}

constexpr std::string_view kOneSource = "the source is given twice (--source, --rigctld); kelvane follows one";

constexpr OptionSpec kOptions[] = {
    {"--config", "", "", "FILE", OptionReach::kStation, "--config is given twice", FileName<&Options::configPath>,
     R"(read "name = value" lines for the long options below
(source, rigctld, output, interlock, poll, settings, web,
web-password-file, web-token-file, web-cert, web-key,
web-hosts, mqtt, mqtt-ca, mqtt-password-file, mqtt-station,
mqtt-discovery, verbose = yes|no;
# starts a comment); the command line overrides them.
Radios sharing the antennas get a section each, after
those lines: [radio NAME] with source (or rigctld),
output, interlock (default: as --interlock) and inhibit =
BIT (1-8, the line set while the radio has no antenna); no
source or output is then given outside them. [band N]
with alternates = ANTENNA... to try in turn while the
band's antenna is another radio's. Every line under a
section header belongs to that section.)"},
    {"--settings", "", "settings", "FILE", OptionReach::kStation, "", FileName<&Options::settingsPath>,
     R"(the band and antenna tables, in the Windows program's file
layout (default $XDG_CONFIG_HOME/kelvane/Kelvaneer12.ini;
a missing file means the first-start defaults))"},
    {"--source", "", "source", "SPEC", OptionReach::kRadio, kOneSource, Source,
     R"(what to follow (default rigctld:localhost:4532); SPEC is one of
  rigctld:HOST:PORT       Hamlib's rigctld, polled ('f', 't')
  udp:[ADDR:]PORT[,radio=N]
                          a logger's RadioInfo datagrams (port
                          12060, all interfaces and radio 1 by
                          default); switches as each arrives;
                          lost after 30 s without one
  flrig:HOST:PORT         flrig's XML-RPC (port 12345), polled
  mqtt:TOPIC              readings on the mqtt broker (frequency_hz,
                          transmitting), as another kelvane's
                          kelvane/STATION/radio/R/state; lost after
                          30 s without one or when STATION is offline)"},
    {"--rigctld", "", "rigctld", "HOST:PORT", OptionReach::kRadio, kOneSource, Source,
     "the same as --source rigctld:HOST:PORT"},
    {"--poll", "", "poll", "MS", OptionReach::kStation, "", Poll,
     "poll period in milliseconds, 20 to 5000 (default 100)"},
    {"--output", "", "output", "SPEC", OptionReach::kRadio, "--output is given twice; kelvane drives one output",
     Output,
     R"(where the antenna's byte goes (default journal on standard
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
  none                    nothing: a kelvane that only follows and
                          publishes on --mqtt
add ,invert for boards whose relays close on a low line)"},
    {"--interlock", "", "interlock", "MODE", OptionReach::kRadioDefault, "", InterlockMode,
     R"(auto: hold switching while the rig transmits, when the
      source gives a transmit state (default; a warning
      when not)
required: never switch without a transmit state
off: never ask for the transmit state
With udp the logger reports only the transmissions it keys
itself (a footswitch or paddle is not reported), so required
is honest only with a hardware PTT sense, which this source
does not have; auto switches, with a warning once at start.)"},
    {"--web", "", "web", "[ADDR:]PORT", OptionReach::kStation, "", Web,
     R"(serve the web console and its JSON API there (default
address 127.0.0.1; an IPv6 address in brackets, [::1]:8080).
Any address but loopback needs --web-password-file)"},
    {"--web-password-file", "", "web-password-file", "FILE", OptionReach::kStation, "",
     FileName<&Options::webPasswordFile>,
     R"(the password hash `kelvane web-password FILE` wrote; the
console then asks for the password)"},
    {"--web-token-file", "", "web-token-file", "FILE", OptionReach::kStation, "", FileName<&Options::webTokenFile>,
     R"(the named tokens `kelvane web-token FILE NAME` made; the API
then takes "Authorization: Bearer TOKEN" from scripts)"},
    {"--web-cert", "", "web-cert", "FILE", OptionReach::kStation, "", FileName<&Options::webCert>,
     "serve the console over TLS with this certificate (PEM) and"},
    {"--web-key", "", "web-key", "FILE", OptionReach::kStation, "", FileName<&Options::webKey>,
     "this private key; both or neither"},
    {"--web-hosts", "", "web-hosts", "NAME,...", OptionReach::kStation, "", WebHosts,
     R"(the names the console answers to besides its address and
loopback's, as a browser's address bar gives them
(shack.local, 192.168.1.20, [fe80::1]); others get 421)"},
    {"--mqtt", "", "mqtt", "URL", OptionReach::kStation, "", Mqtt,
     R"(publish the station on an MQTT broker and take commands
there: mqtt://[USER@]HOST[:PORT] (port 1883) or mqtts://...
(TLS, port 8883); topics under kelvane/STATION/)"},
    {"--mqtt-ca", "", "mqtt-ca", "FILE", OptionReach::kStation, "", FileName<&Options::mqttCa>,
     "the CA certificates (PEM) mqtts trusts (default: the system's)"},
    {"--mqtt-password-file", "", "mqtt-password-file", "FILE", OptionReach::kStation, "",
     FileName<&Options::mqttPasswordFile>, "the password of the URL's USER, on the file's first line"},
    {"--mqtt-station", "", "mqtt-station", "NAME", OptionReach::kStation, "", MqttStation,
     "the station in the topics: letters, digits, - and _ (default:\nthe host name)"},
    {"--mqtt-discovery", "", "mqtt-discovery", "PREFIX", OptionReach::kStation, "", MqttDiscovery,
     R"(Home Assistant's discovery prefix (default homeassistant);
no: no discovery)"},
    {"--verbose", "-v", "verbose", "", OptionReach::kStation, "", Verbose, "log every output write"},
    {"--help", "-h", "", "", OptionReach::kStation, "",
     [](std::string_view, std::string_view, Options& o, std::string&) {
         o.help = true;
         return true;
     },
     "this text"},
    {"--version", "", "", "", OptionReach::kStation, "",
     [](std::string_view, std::string_view, Options& o, std::string&) {
         o.version = true;
         return true;
     },
     "the version"},
};

constexpr std::string_view kHelpHead = R"(Usage: kelvane [OPTIONS]
       kelvane [--settings FILE] settings show
       kelvane [--settings FILE] settings antenna N [--name TEXT] [--value V]
       kelvane [--settings FILE] settings band N [--name TEXT] [--low KHZ] [--high KHZ]
       kelvane [--settings FILE] settings assign BAND ANTENNA
       kelvane status [--json]
       kelvane web-password FILE
       kelvane web-token FILE NAME | --list | --remove NAME

Kelvane switches antennas by the rig's frequency. It follows a source for the
frequency and the transmit state (Hamlib's rigctld, a logger's RadioInfo
datagrams, or flrig), finds the band (of ten) holding the frequency, and writes
the byte of the antenna assigned to that band to the output. While the rig
transmits, the output does not change; a band change seen meanwhile is made at
the first reading that reports receive.

Options:
)";

constexpr std::string_view kHelpTail = R"(
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
writes its hash to FILE. The web-token command adds a token named NAME to
FILE and prints it once, alone on its line (FILE keeps only its hash);
--list prints the names, --remove NAME withdraws that token.

Signals: SIGTERM and SIGINT end the program (the output keeps its state);
SIGHUP reads the config and the settings file again (a config that no longer
reads keeps everything as it was; a new source or output is switched to), and
the password file: a changed web option, password or TLS file restarts the
console, which ends every session.

Exit status: 0 on success, 1 when the program cannot run (settings unreadable,
cannot save), 2 on a usage error or refused settings input.
)";

std::string FormatHelp() {
    constexpr std::size_t kColumn = 20;  // where every option's text starts
    std::string text(kHelpHead);
    for (const OptionSpec& o : kOptions) {
        std::string label = "  ";
        if (!o.shortName.empty()) label.append(o.shortName).append(", ");
        label.append(o.longName);
        if (!o.valueName.empty()) label.append(" ").append(o.valueName);
        // A label reaching the column gets a line of its own.
        text += label.size() < kColumn ? label + std::string(kColumn - label.size(), ' ')
                                       : label + "\n" + std::string(kColumn, ' ');
        for (std::size_t from = 0, nl = 0; from < o.help.size(); from = nl + 1) {
            nl = std::min(o.help.find('\n', from), o.help.size());
            if (from > 0) text.append(kColumn, ' ');
            text.append(o.help.substr(from, nl - from)).append("\n");
        }
    }
    return text.append(kHelpTail);
}

}  // namespace

std::span<const OptionSpec> OptionTable() { return kOptions; }

const OptionSpec* FindOption(std::string_view name) {
    for (const OptionSpec& o : kOptions)
        if (!name.empty() && (name == o.longName || name == o.shortName)) return &o;
    return nullptr;
}

const OptionSpec* FindConfigOption(std::string_view name) {
    for (const OptionSpec& o : kOptions)
        if (!name.empty() && name == o.configName) return &o;
    return nullptr;
}

bool OptionSpec::Apply(std::string_view value, Options& options, std::string& why) const {
    if (!IsUtf8(value)) return RefuseValue(why, longName, Utf8Text(value), "not UTF-8 text");
    return apply(longName, value, options, why);
}

const char* const kHelpText = [] {
    static const std::string text = FormatHelp();
    return text.c_str();
}();

}  // namespace kelvane::svc
