#pragma once
// KorvPortDll.cfg beside the library: which backend serves the ports.

#include <string>
#include <string_view>
#include <vector>

namespace korvport {

enum class Backend { Hardware, Journal, Unknown };

struct Config {
    Backend backend = Backend::Hardware;
    std::string journal = "KorvPortDll.log";  // relative paths are taken from the library's directory
    bool qpc = false;                         // journal lines also carry the performance counter
    std::vector<std::string> problems;        // one readable sentence per line that was not understood
};

inline constexpr char kConfigFileName[] = "KorvPortDll.cfg";
inline constexpr std::size_t kConfigMaxBytes = 64 * 1024;

Config ParseConfig(std::string_view text);

}  // namespace korvport
