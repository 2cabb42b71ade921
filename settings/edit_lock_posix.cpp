#include "settings/edit_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "settings/file_io.h"

namespace kelvane {

SettingsEditLock::SettingsEditLock(const std::string& path) {
    const std::string dir = fileio::DirectoryOf(path);
    m_fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_fd < 0) {
        m_reason = dir + ": " + std::strerror(errno);
        return;
    }
    int rc;
    do rc = ::flock(m_fd, LOCK_EX);
    while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        m_reason = dir + ": " + std::strerror(errno);
        ::close(m_fd);
        m_fd = -1;
    }
}

// Closing the descriptor releases the lock.
SettingsEditLock::~SettingsEditLock() {
    if (m_fd >= 0) ::close(m_fd);
}

}  // namespace kelvane
