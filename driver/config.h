#pragma once
// KorvPortDll.cfg beside the library: which backend serves the ports.

#include <string>
#include <string_view>
#include <vector>

namespace korvport {

enum class Backend { Hardware, Journal, Ftdi, HidRelay, Unknown };

struct Config {
    Backend backend = Backend::Hardware;
    std::string journal = "KorvPortDll.log";  // relative paths are taken from the library's directory
    bool qpc = false;                         // journal lines also carry the performance counter
    // The USB backends: which board (serial, else index for ftdi, else the first
    // found) and whether its relays are active-low.
    std::string serial;
    int index = -1;
    bool invert = false;
    std::vector<std::string> problems;  // one readable sentence per line that was not understood
};

inline constexpr char kConfigFileName[] = "KorvPortDll.cfg";
inline constexpr std::size_t kConfigMaxBytes = 64 * 1024;
inline constexpr std::size_t kFtdiSerialMax = 15;  // FT_OpenEx takes at most 16 bytes with the terminator
inline constexpr int kFtdiIndexMax = 31;

Config ParseConfig(std::string_view text);

// The backend's name as the config spells it.
const char* BackendName(Backend backend);

}  // namespace korvport
