#pragma once
// The command line: the service's options, or the `settings` command and its words.

#include <chrono>
#include <string>
#include <vector>

#include "linux/output_spec.h"
#include "linux/poll_loop.h"
#include "linux/source.h"

namespace kelvane::svc {

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
};

// $XDG_CONFIG_HOME/kelvane/Kelvaneer12.ini, or ~/.config/kelvane/Kelvaneer12.ini.
std::string DefaultSettingsPath();

// False with `error` set on a usage error. With --config, the file's options
// are read first and the command line's override them.
bool ParseCommandLine(int argc, const char* const* argv, Options& options, std::string& error);
// The same from the arguments kept in `commandLine`: how SIGHUP reads the config again.
bool ParseCommandLine(const std::vector<std::string>& args, Options& options, std::string& error);

extern const char kHelpText[];

}  // namespace kelvane::svc
