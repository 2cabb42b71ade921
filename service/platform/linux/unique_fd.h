#pragma once
// A file descriptor with one owner: closed once, when its owner goes.

#include <unistd.h>

#include <utility>

namespace kelvane::svc {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { Reset(); }

    int Get() const { return m_fd; }
    bool Valid() const { return m_fd >= 0; }
    explicit operator bool() const { return Valid(); }
    int Release() { return std::exchange(m_fd, -1); }
    // Closes what it held; false (errno set) when that close failed, which a
    // writer must report: the kernel may only then say the data was lost.
    bool Reset(int fd = -1) {
        const int old = std::exchange(m_fd, fd);
        return old < 0 || ::close(old) == 0;
    }

private:
    int m_fd = -1;
};

}  // namespace kelvane::svc
