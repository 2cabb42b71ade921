#pragma once
// The USB relay backends (ftdi, hidrelay) and the status log they keep beside
// the library.

#include <windows.h>

#include <memory>
#include <string>

#include "driver/config.h"
#include "driver/port_io.h"
#include "driver/status_log.h"
#include "outputs/device.h"
#include "win32/module.h"

namespace korvport {

// The boards' bindings, on their libraries (ftd2xx.dll; hid.dll and
// setupapi.dll) from `libraryDir`, this library's own directory, else from the
// system directory.
std::unique_ptr<kelvane::outputs::OutputDevice> MakeFtdiBoard(const Config& config, const std::string& libraryDir);
std::unique_ptr<kelvane::outputs::OutputDevice> MakeHidRelayBoard(const Config& config, const std::string& libraryDir);

// The board is looked for on the first write, not here, so a board plugged in
// later is found without reloading the library. Null only when no worker
// thread could be started for it.
std::unique_ptr<PortIo> OpenUsb(const Config& config, const std::string& libraryDir, const std::string& statusPath);

}  // namespace korvport
