#include "linux/cli.h"

#include <charconv>
#include <cstdlib>
#include <string_view>

#include <unistd.h>

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

Kelvane switches antennas by the rig's frequency. It polls Hamlib's rigctld for
the frequency and the transmit state, finds the band (of ten) holding the
frequency, and writes the byte of the antenna assigned to that band to the
output. While the rig transmits, the output does not change; a band change seen
meanwhile is made at the first poll that reports receive.

Options:
  --settings FILE   the band and antenna tables, in the Windows program's file
                    layout (default $XDG_CONFIG_HOME/kelvane/Kelvaneer12.ini;
                    a missing file means the first-start defaults)
  --rigctld HOST:PORT
                    where rigctld listens (default localhost:4532)
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
  --interlock MODE  auto: hold switching while the rig transmits, when the rig
                          has a transmit state (default; a warning when not)
                    required: never switch without a transmit state
                    off: never ask for the transmit state
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
SIGHUP reads the settings file again.

Exit status: 0 on success, 1 when the program cannot run (settings unreadable,
cannot save), 2 on a usage error or refused settings input.
)";

std::string StateFilePath(bool forStatus) {
    const auto env = [](const char* name) -> std::string {
        const char* v = std::getenv(name);
        return v && *v ? v : "";
    };
    // systemd may list several directories, separated by colons; ours is the one.
    if (std::string dir = env("RUNTIME_DIRECTORY"); !dir.empty()) return dir.substr(0, dir.find(':')) + "/state.json";
    const std::string system = "/run/kelvane/state.json";
    if (const std::string user = env("XDG_RUNTIME_DIR"); !user.empty() && (forStatus || ::geteuid() != 0)) {
        const std::string path = user + "/kelvane/state.json";
        if (!forStatus || ::access(path.c_str(), F_OK) == 0) return path;
    }
    return system;
}

std::string DefaultSettingsPath() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    std::string path(xdg && *xdg ? xdg : home && *home ? home : ".");
    if (!(xdg && *xdg) && home && *home) path.append("/.config");
    path.append("/kelvane/");
    path.append(kSettingsFileName);
    return path;
}

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

}  // namespace

bool ParseCommandLine(int argc, const char* const* argv, Options& o, std::string& error) {
    o.settingsPath = DefaultSettingsPath();
    bool outputGiven = false;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg == "settings") {
            o.settingsCommand = true;
            o.settingsArgs.assign(argv + i + 1, argv + argc);
            break;
        }
        if (arg == "web-password") {
            o.webPasswordCommand = true;
            o.webPasswordArgs.assign(argv + i + 1, argv + argc);
            break;
        }
        if (arg == "status") {
            o.statusCommand = true;
            for (int j = i + 1; j < argc; ++j) {
                if (std::string_view(argv[j]) != "--json") {
                    error = "status: unknown option \"" + std::string(argv[j]) + "\"";
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
            o.verbose = true;
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
        if (name != "--settings" && name != "--rigctld" && name != "--poll" && name != "--output" &&
            name != "--interlock" && name != "--web" && name != "--web-password-file" && name != "--web-cert" &&
            name != "--web-key") {
            error = "unknown option \"" + std::string(arg) + "\"";
            return false;
        }
        if (!inlineValue) {
            if (i + 1 >= argc) {
                error = std::string(name) + " needs a value";
                return false;
            }
            value = argv[++i];
        }
        if (name == "--settings") {
            if (value.empty()) {
                error = "--settings needs a file name";
                return false;
            }
            o.settingsPath = std::string(value);
        } else if (name == "--rigctld") {
            if (!ParseEndpoint(value, o.rigctld)) {
                error = "--rigctld \"" + std::string(value) + "\": expected HOST:PORT, as in localhost:4532";
                return false;
            }
        } else if (name == "--poll") {
            int ms = 0;
            const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), ms);
            if (value.empty() || ec != std::errc() || end != value.data() + value.size() || ms < 20 || ms > 5000) {
                error = "--poll \"" + std::string(value) + "\": expected whole milliseconds from 20 to 5000";
                return false;
            }
            o.poll = std::chrono::milliseconds{ms};
        } else if (name == "--output") {
            if (outputGiven) {
                error = "--output is given twice; kelvane drives one output";
                return false;
            }
            outputGiven = true;
            o.outputText = std::string(value);
            std::string why;
            if (!ParseOutputSpec(value, o.output, why)) {
                error = "--output \"" + std::string(value) + "\": " + why;
                return false;
            }
        } else if (name == "--web") {
            web::WebSpec spec;
            std::string why;
            if (!web::ParseWebSpec(value, spec, why)) {
                error = "--web \"" + std::string(value) + "\": " + why;
                return false;
            }
            o.web = spec;
        } else if (name == "--web-password-file" || name == "--web-cert" || name == "--web-key") {
            if (value.empty()) {
                error = std::string(name) + " needs a file name";
                return false;
            }
            (name == "--web-cert" ? o.webCert : name == "--web-key" ? o.webKey : o.webPasswordFile) = value;
        } else if (!ParseInterlock(value, o.interlock)) {
            error = "--interlock \"" + std::string(value) + "\": expected auto, off or required";
            return false;
        }
    }
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
