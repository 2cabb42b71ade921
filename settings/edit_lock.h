#pragma once
// Read-modify-write edits of the settings file (the settings command, a web
// console) hold this from their read to their save, so that two edits at once
// never lose one another's change. Advisory: only edits take it; readers need
// none, as a save replaces the file whole. POSIX only.

#include <string>

namespace kelvane {

class SettingsEditLock {
public:
    // Waits until no other edit of `path` holds it. Every save replaces the
    // file's inode, so the lock is taken on the directory holding the file,
    // which stays; that directory must exist.
    explicit SettingsEditLock(const std::string& path);
    ~SettingsEditLock();
    SettingsEditLock(const SettingsEditLock&) = delete;
    SettingsEditLock& operator=(const SettingsEditLock&) = delete;

    bool Held() const { return m_fd >= 0; }
    // The system's words when not held.
    const std::string& Reason() const { return m_reason; }

private:
    int m_fd = -1;
    std::string m_reason;
};

}  // namespace kelvane
