#pragma once
// The command line: the service's options, or the `settings` command and its words.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "core/lockout.h"
#include "service/base/platform.h"  // DefaultSettingsPath, StateFilePath
#include "service/bus/link.h"
#include "service/config/output_spec.h"
#include "service/station/poll_loop.h"
#include "service/sources/source.h"
#include "service/web/server.h"

namespace kelvane::svc {

// One radio of a station that shares its antennas: a [radio NAME] section.
struct RadioOptions {
    std::string name;  // "A", as the log, the journal and the console show it
    int line = 0;      // of its [radio NAME] line, from 1
    std::string sourceText;
    SourceSpec source;
    std::string outputText;
    OutputSpec output;
    Interlock interlock = Interlock::kAuto;
    std::optional<int> inhibit;  // the output line (1-8) set while the radio has no antenna
    int inhibitLine = 0;         // of its `inhibit` line, for a refusal found once the settings are read
};

struct Options {
    std::string settingsPath;
    std::string sourceText = "rigctld:localhost:4532";
    SourceSpec source;
    std::chrono::milliseconds poll{100};
    std::string outputText = "journal";
    OutputSpec output;
    Interlock interlock = Interlock::kAuto;
    bool verbose = false;
    bool help = false;
    bool version = false;
    std::vector<std::string> settingsArgs;  // the words after "settings"
    bool settingsCommand = false;
    std::string configPath;                // --config; empty when none
    std::vector<std::string> commandLine;  // the arguments, to read the config again under them
    // [radio NAME] sections, in the file's order; none: one radio from the options above.
    std::vector<RadioOptions> radios;
    // [band N] alternates: per band, the antennas (from 0) to try after the assigned one.
    Alternates alternates;

    // The web console, and the commands `status` and `web-password`.
    std::optional<web::WebSpec> web;
    std::string webPasswordFile, webTokenFile, webCert, webKey;
    std::vector<std::string> webHosts;  // names the console answers to besides its address
    // The station bus: the broker, and the station's name and discovery there.
    std::optional<BrokerSpec> mqtt;
    std::string mqttCa, mqttPasswordFile, mqttStation, mqttDiscovery = "homeassistant";
    bool statusCommand = false, statusJson = false;
    bool webPasswordCommand = false, webTokenCommand = false;
    std::vector<std::string> webPasswordArgs;  // web-password's, or web-token's
};

// False with `error` set on a usage error. With --config, the file's options
// are read first and the command line's override them.
bool ParseCommandLine(int argc, const char* const* argv, Options& options, std::string& error);
// The same from the arguments kept in `commandLine`: how SIGHUP reads the config again.
bool ParseCommandLine(const std::vector<std::string>& args, Options& options, std::string& error);

// The --help text, made from the option table.
extern const char* const kHelpText;

}  // namespace kelvane::svc
