#include <cstdio>
#include <iostream>

#include "linux/cli.h"
#include "linux/service.h"
#include "linux/settings_cmd.h"

int main(int argc, char** argv) {
    using namespace kelvane::svc;
    Options options;
    std::string error;
    if (!ParseCommandLine(argc, argv, options, error)) {
        std::fprintf(stderr, "kelvane: %s; see kelvane --help\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(kHelpText, stdout);
        return 0;
    }
    if (options.version) {
        std::puts("kelvane " KELVANE_VERSION);
        return 0;
    }
    if (options.settingsCommand)
        return RunSettingsCommand(options.settingsPath, options.settingsArgs, std::cout, std::cerr);
    return RunService(options, RealApis());
}
