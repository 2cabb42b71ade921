#pragma once
// What the service asks of the operating system, and all it asks: the files
// under service/platform/linux/ give it on Linux; another system's build gives
// it with files of its own and changes nothing that includes this.

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace kelvane::svc {

// What a wait waits on: a file descriptor on Linux. kNoHandle is skipped.
using Handle = int;
constexpr Handle kNoHandle = -1;

// The operator's requests to the running service (SIGHUP, SIGTERM and SIGINT
// on Linux): held back from the start so that none ends the program unasked,
// then taken one at a time when their handle is readable.
class OperatorRequests {
public:
    struct Request {
        enum Kind { kNone, kReload, kStop } kind = kNone;
        std::string name;  // as the log names it
    };
    OperatorRequests();
    ~OperatorRequests();
    // False with the reason when the requests cannot be held.
    bool Start(std::string& error);
    Handle Ready() const;
    // kNone when nothing could be taken after all.
    Request Take();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// Wakes the main thread's wait from any other thread.
class Wake {
public:
    Wake();
    ~Wake();
    bool Open(std::string& error);
    // Any thread; nothing before Open.
    void Signal();
    // The waiting thread, before it takes what it was woken for.
    void Clear();
    Handle Ready() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// Waits until one of `handles` is readable or `deadline` passes. `readable`
// gets a flag for each; false when none is (the deadline, or the wait cut short).
bool WaitReadable(const std::vector<Handle>& handles, std::chrono::steady_clock::time_point deadline,
                  std::vector<bool>& readable);

// What the service manager is told; nothing when no manager started the service.
void NotifyStatus(const std::string& status, bool ready);  // ready: it is ready too
void NotifyReloading();
void NotifyReady();
void NotifyStopping();
// For the state file, so that `kelvane status` can tell a live service from a gone one.
int ProcessId();
// This machine's name, without its domain; empty when it has none.
std::string HostName();
// Whether a process of that id runs, ours to signal or not.
bool ProcessRuns(int pid);

// The settings file when no --settings names one: in the user's config folder.
std::string DefaultSettingsPath();
// Where the service keeps its state file for `kelvane status`: the system
// service's, or a user's own run's. `forStatus` takes the user's one only when
// its file exists, so that a user asks the system service by default.
std::string StateFilePath(bool forStatus);
// Makes the folder `path` if it is not there; false with the reason.
bool MakeFolder(const std::string& path, std::string& why);

enum class PathKind { kMissing, kFile, kFolder, kOther, kFailed };
// What is at `path`, found without opening it (a pipe would hold the opener);
// kFailed with the reason.
PathKind KindOf(const std::string& path, std::string& why);

enum class FileRead { kOk, kMissing, kFailed };
// A regular file's bytes up to `maxBytes`, read at once; kFailed with the reason.
FileRead ReadFileBytes(const std::string& path, std::size_t maxBytes, std::string& bytes, std::string& why);

}  // namespace kelvane::svc
