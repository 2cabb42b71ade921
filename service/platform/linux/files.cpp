// Files and processes on Linux: what a path is, whether a process runs, and a small file read whole, refused when it
// is not a regular file: a FIFO or a device put in its place would hold the reader.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "service/base/platform.h"
#include "service/platform/linux/unique_fd.h"

namespace kelvane::svc {

bool ProcessRuns(int pid) { return ::kill(pid, 0) == 0 || errno == EPERM; }

PathKind KindOf(const std::string& path, std::string& why) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) return PathKind::kMissing;
        why = std::strerror(errno);
        return PathKind::kFailed;
    }
    if (S_ISREG(st.st_mode)) return PathKind::kFile;
    return S_ISDIR(st.st_mode) ? PathKind::kFolder : PathKind::kOther;
}

FileRead ReadFileBytes(const std::string& path, std::size_t maxBytes, std::string& bytes, std::string& why) {
    bytes.clear();
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd) {
        if (errno == ENOENT) return FileRead::kMissing;
        why = std::strerror(errno);
        return FileRead::kFailed;
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        why = "not a regular file";
        return FileRead::kFailed;
    }
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
        if (n == 0) return FileRead::kOk;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || bytes.size() + static_cast<std::size_t>(n) > maxBytes) {
            why = n < 0 ? std::strerror(errno) : "far too large";
            return FileRead::kFailed;
        }
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
}

std::string HostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    const std::string host = name;
    return host.substr(0, host.find('.'));
}

}  // namespace kelvane::svc
