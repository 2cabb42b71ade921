#include "sim_host_process.h"

#include <chrono>

namespace kelvane::testing {

namespace {

// Generous: a loaded machine under Wine can take seconds to start a process.
constexpr auto kPatience = std::chrono::seconds(60);
constexpr DWORD kPatienceMs = 60000;

std::string SimHostPath() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path);
    dir.erase(dir.find_last_of("\\/") + 1);
    return dir + KELVANE_PROGRAM_DIR_FROM_TESTS "\\KorvSimHost.exe";
}

std::string UniqueEventName() {
    static int made = 0;
    return "KorvSimHostTest-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++made);
}

bool StartsWithWord(const std::string& line, const std::string& word) {
    return line.compare(0, word.size(), word) == 0 && (line.size() == word.size() || line[word.size()] == ' ');
}

}  // namespace

SimHostProcess::SimHostProcess(const std::string& args, Kind kind) {
    // Appended piece by piece: GCC 12 warns falsely on "..." + std::string here.
    std::string command = "\"";
    command.append(SimHostPath()).append("\" ").append(args);
    if (kind == kServes) {
        const std::string name = UniqueEventName();
        m_quit = CreateEventA(nullptr, TRUE, FALSE, name.c_str());
        command += " --quit-event " + name;
    }

    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE write = nullptr;
    if (!CreatePipe(&m_output, &write, &inherit, 0)) return;
    SetHandleInformation(m_output, HANDLE_FLAG_INHERIT, 0);
    HANDLE nul =
        CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);

    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = nul;
    si.hStdOutput = write;
    si.hStdError = write;
    PROCESS_INFORMATION pi = {};
    if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        m_process = pi.hProcess;
        CloseHandle(pi.hThread);
    }
    // Only the child may hold the write end, or the reader never sees the end.
    CloseHandle(write);
    if (nul != INVALID_HANDLE_VALUE) CloseHandle(nul);
    if (m_process != nullptr) m_reader = std::thread([this] { ReadOutput(); });
}

SimHostProcess::~SimHostProcess() {
    if (m_process != nullptr && !Quit()) {
        TerminateProcess(m_process, 3);
        WaitForSingleObject(m_process, kPatienceMs);
    }
    if (m_reader.joinable()) m_reader.join();
    if (m_process != nullptr) CloseHandle(m_process);
    if (m_quit != nullptr) CloseHandle(m_quit);
    if (m_output != nullptr) CloseHandle(m_output);
}

void SimHostProcess::ReadOutput() {
    std::string pending;
    char buf[512];
    DWORD got = 0;
    while (ReadFile(m_output, buf, sizeof buf, &got, nullptr) && got > 0) {
        pending.append(buf, got);
        std::lock_guard<std::mutex> lock(m_mutex);
        for (std::size_t eol; (eol = pending.find('\n')) != std::string::npos; pending.erase(0, eol + 1)) {
            std::string line = pending.substr(0, eol);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            m_lines.push_back(line);
        }
        m_changed.notify_all();
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!pending.empty()) m_lines.push_back(pending);
    m_ended = true;
    m_changed.notify_all();
}

bool SimHostProcess::WaitForLine(const std::string& word, std::string* line) {
    std::unique_lock<std::mutex> lock(m_mutex);
    bool found = false;
    m_changed.wait_for(lock, kPatience, [&] {
        for (; m_next < m_lines.size() && !found; ++m_next) {
            found = StartsWithWord(m_lines[m_next], word);
            if (found && line != nullptr) *line = m_lines[m_next];
        }
        return found || m_ended;
    });
    return found;
}

bool SimHostProcess::Quit() {
    if (m_quit != nullptr) SetEvent(m_quit);
    return WaitForExit();
}

bool SimHostProcess::WaitForExit() {
    if (m_process == nullptr || WaitForSingleObject(m_process, kPatienceMs) != WAIT_OBJECT_0) return false;
    // The pipe closes with the process; once the reader sees that, it has everything.
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, kPatience, [this] { return m_ended; });
}

DWORD SimHostProcess::ExitCode() const {
    DWORD code = 0xFFFFFFFF;
    if (m_process != nullptr) GetExitCodeProcess(m_process, &code);
    return code;
}

std::vector<std::string> SimHostProcess::Lines() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lines;
}

std::string SimHostProcess::Transcript() const {
    std::string all;
    for (const std::string& line : Lines()) all += line + "\n";
    return all;
}

DWORD RunSimHost(const std::string& args, std::string* transcript) {
    SimHostProcess host(args, SimHostProcess::kOneShot);
    if (!host.WaitForExit()) return 0xFFFFFFFF;
    if (transcript != nullptr) *transcript = host.Transcript();
    return host.ExitCode();
}

}  // namespace kelvane::testing
