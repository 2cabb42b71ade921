#pragma once
// Windows side of the port write: the platform decision, the x86 byte output,
// and the port-driver library beside the executable.
#include <cstdint>
#include <string>
#include <string_view>
#include "port/port_write.h"
namespace kelvane {
inline constexpr char kPortDriverLibraryName[] = "KorvPortDll.dll";
// The one message shown when the library cannot be used (lines and empty lines exact).
extern const char kPortDriverFailureMessage[];
extern PortDriverBinding g_portDriver;  // process-wide, null at start
int DetectPlatform();                   // 1 on the NT family, 0 otherwise (or when GetVersionExA fails)
void OutPortByte(std::uint16_t port, std::uint8_t value);  // the x86 `out` instruction (9x route)
std::string GetProgramDir();                     // directory of the running module, ending in its separator, or ""
int BindPortDriver(PortDriverBinding& binding);  // loads GetProgramDir() + kPortDriverLibraryName; nonzero when usable
int UnbindPortDriver(PortDriverBinding& binding);  // 1 if a library was unloaded
void ShowPortDriverFailure();                      // the message above in an OK box, once per call

// The library is taken from `dir` only, by full path: an empty `dir` loads
// nothing, since a bare name would let the DLL search reach the current directory.
int BindPortDriver(PortDriverBinding& binding, const std::string& dir);
// Drive and directory of `path`, up to and including its last '\' or '/'; "" without one.
std::string DirectoryOf(std::string_view path);
}  // namespace kelvane
