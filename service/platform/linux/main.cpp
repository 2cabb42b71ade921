#include <cstdio>
#include <iostream>

#include "service/base/text.h"
#include "service/config/cli.h"
#include "service/station/service.h"
#include "service/config/settings_cmd.h"
#include "service/web/auth.h"
#include "service/web/status.h"
#include "service/web/tokens.h"

int main(int argc, char** argv) {
    using namespace kelvane::svc;
    Options options;
    std::string error;
    if (!ParseCommandLine(argc, argv, options, error)) {
        std::fprintf(stderr, "kelvane: %s; see kelvane --help\n", Utf8Text(error).c_str());
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
    if (options.statusCommand)
        return kelvane::web::RunStatusCommand(StateFilePath(true), options.statusJson, kelvane::web::RealStatusEnv(),
                                              std::cout, std::cerr);
    if (options.webPasswordCommand)
        return kelvane::web::RunWebPasswordCommand(options.webPasswordArgs, std::cin, std::cout, std::cerr);
    if (options.webTokenCommand) return kelvane::web::RunWebTokenCommand(options.webPasswordArgs, std::cout, std::cerr);
    return RunService(options, RealApis());
}
