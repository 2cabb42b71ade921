#include <io.h>
#include <share.h>

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "settings/file_io.h"

namespace kelvane::fileio {

std::FILE* OpenExclusive(const std::string& path, const char* mode) {
    return ::_fsopen(path.c_str(), mode, _SH_DENYRW);
}

bool FlushToDisk(std::FILE* file) { return std::fflush(file) == 0 && ::_commit(::_fileno(file)) == 0; }

// The C runtime's rename refuses an existing target; the library's replaces it.
bool ReplaceWith(const std::string& from, const std::string& to) {
    std::error_code ec;
    std::filesystem::rename(from, to, ec);
    return !ec;
}

}  // namespace kelvane::fileio
