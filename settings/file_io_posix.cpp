#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "settings/file_io.h"

namespace kelvane::fileio {
namespace {

// The owner first: changing it clears set-id bits, which the mode then puts back.
// A user who may not give the file away still keeps its group where a member.
// A link in the target's place is replaced, so what it points at lends nothing.
void KeepPermissions(const std::string& target, int fd) {
    struct stat st {};
    if (::lstat(target.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;  // a new file's mode, less the umask
    if (::fchown(fd, st.st_uid, st.st_gid) != 0) (void)!::fchown(fd, static_cast<uid_t>(-1), st.st_gid);
    (void)!::fchmod(fd, st.st_mode & 07777);
}

}  // namespace

std::FILE* OpenExclusive(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

std::FILE* CreateTemporaryBeside(const std::string& target, unsigned modeForNewFile, std::string& temp) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned char random[6];
        if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) return nullptr;
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".tmp-%02x%02x%02x%02x%02x%02x", random[0], random[1], random[2],
                      random[3], random[4], random[5]);
        const std::string name = target + suffix;
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                              static_cast<mode_t>(modeForNewFile));
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return nullptr;
        }
        const int saved = errno;
        KeepPermissions(target, fd);
        errno = saved;
        std::FILE* file = ::fdopen(fd, "wb");
        if (file == nullptr) {
            const int error = errno;
            ::close(fd);
            ::unlink(name.c_str());
            errno = error;
            return nullptr;
        }
        temp = name;
        return file;
    }
    return nullptr;  // errno is EEXIST
}

bool FlushToDisk(std::FILE* file) { return std::fflush(file) == 0 && ::fsync(::fileno(file)) == 0; }

// The directory is flushed too, so the new name survives a power loss; that
// one is best effort, as the replacement itself has happened by then.
bool ReplaceWith(const std::string& from, const std::string& to) {
    if (std::rename(from.c_str(), to.c_str()) != 0) return false;
    const int dir = ::open(DirectoryOf(to).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        (void)::fsync(dir);
        ::close(dir);
    }
    return true;
}

// Unlinking needs only a writable directory, whatever the file's own mode.
void RemoveStale(const std::string& path) {
    const int saved = errno;
    ::unlink(path.c_str());
    errno = saved;
}

bool LastErrorWasNotFound() { return errno == ENOENT; }

std::string LastErrorText() { return std::strerror(errno); }

}  // namespace kelvane::fileio
