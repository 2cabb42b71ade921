#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "settings/file_io.h"

namespace kelvane::fileio {

std::FILE* OpenExclusive(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

bool FlushToDisk(std::FILE* file) { return std::fflush(file) == 0 && ::fsync(::fileno(file)) == 0; }

bool ReplaceWith(const std::string& from, const std::string& to) { return std::rename(from.c_str(), to.c_str()) == 0; }

// Unlinking needs only a writable directory, whatever the file's own mode.
void RemoveStale(const std::string& path) {
    const int saved = errno;
    ::unlink(path.c_str());
    errno = saved;
}

std::string LastErrorText() { return std::strerror(errno); }

}  // namespace kelvane::fileio
