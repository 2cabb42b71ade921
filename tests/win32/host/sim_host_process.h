#pragma once
// KorvSimHost.exe run as a child process, its stdout and stderr read line by
// line as they come. Every wait is bounded, so a host that hangs fails a test
// instead of stalling the run.

#include <windows.h>

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kelvane::testing {

class SimHostProcess {
public:
    // Serving modes get a quit event of their own appended to `args`.
    enum Kind { kServes, kOneShot };
    explicit SimHostProcess(const std::string& args, Kind kind = kServes);
    ~SimHostProcess();
    SimHostProcess(const SimHostProcess&) = delete;
    SimHostProcess& operator=(const SimHostProcess&) = delete;

    bool Started() const { return m_process != nullptr; }
    // The next line led by `word` after those already waited for.
    bool WaitForLine(const std::string& word, std::string* line = nullptr);
    bool Quit();
    bool WaitForExit();
    DWORD ExitCode() const;
    std::vector<std::string> Lines() const;
    std::string Transcript() const;

private:
    void ReadOutput();

    HANDLE m_process = nullptr;
    HANDLE m_quit = nullptr;
    HANDLE m_output = nullptr;
    std::thread m_reader;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_lines;
    bool m_ended = false;
    std::size_t m_next = 0;
};

// Runs a one-shot command (--register, a bad option, ...) to its end.
DWORD RunSimHost(const std::string& args, std::string* transcript = nullptr);

}  // namespace kelvane::testing
