#pragma once
// Windows side of the port write: the platform decision, the x86 byte output,
// and the port-driver library beside the executable.

#include <cstdint>
#include <string>

#include "port/port_write.h"
#include "win32/port_driver_abi.h"

namespace kelvane {

// The bound library as the port write sees it: DriverOutPB reaches the
// library only while both the handle and its slot are bound.
struct PortDriverBinding final : PortDriverSlots, DriverByteOutput {
    void DriverOutPB(std::uint16_t port, std::uint8_t value) const override;
};

// The one message shown when the library cannot be used (lines and empty lines exact).
extern const char kPortDriverFailureMessage[];
extern PortDriverBinding g_portDriver;  // process-wide, null at start

bool DetectPlatform();                                     // true on the NT family (false when GetVersionExA fails)
void OutPortByte(std::uint16_t port, std::uint8_t value);  // the x86 `out` instruction (9x route)
bool BindPortDriver(PortDriverBinding& binding);    // loads GetProgramDir() + kPortDriverLibraryName; true when usable
bool UnbindPortDriver(PortDriverBinding& binding);  // true if a library was unloaded
void ShowPortDriverFailure();                       // the message above in an OK box, once per call

// The port side of the running program: g_portDriver, OutPortByte and the calls above.
extern const PortPlatform kSystemPortPlatform;

// The library is taken from `dir` only, by full path: an empty `dir` loads
// nothing, since a bare name would let the DLL search reach the current directory.
bool BindPortDriver(PortDriverBinding& binding, const std::string& dir);

}  // namespace kelvane
