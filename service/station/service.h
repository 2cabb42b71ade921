#pragma once
// The running switcher: settings, output, rigctld link and the poll loop, with
// SIGTERM/SIGINT ending it and SIGHUP reloading the settings file.

#include "service/config/cli.h"
#include "service/platform/linux/devices/devices.h"

namespace kelvane::svc {

// Returns the exit status.
int RunService(const Options& options, const OutputApis& apis);

}  // namespace kelvane::svc
