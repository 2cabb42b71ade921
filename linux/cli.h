#pragma once
// The command line: the service's options, or the `settings` command and its words.

#include <chrono>
#include <string>
#include <vector>

#include "linux/output_spec.h"
#include "linux/poll_loop.h"
#include "linux/rigctld_link.h"

namespace kelvane::svc {

struct Options {
    std::string settingsPath;
    Endpoint rigctld;
    std::chrono::milliseconds poll{100};
    std::string outputText = "journal";
    OutputSpec output;
    Interlock interlock = Interlock::kAuto;
    bool verbose = false;
    bool help = false;
    bool version = false;
    std::vector<std::string> settingsArgs;  // the words after "settings"
    bool settingsCommand = false;
};

// $XDG_CONFIG_HOME/kelvane/Kelvaneer12.ini, or ~/.config/kelvane/Kelvaneer12.ini.
std::string DefaultSettingsPath();

// False with `error` set on a usage error.
bool ParseCommandLine(int argc, const char* const* argv, Options& options, std::string& error);

extern const char kHelpText[];

}  // namespace kelvane::svc
