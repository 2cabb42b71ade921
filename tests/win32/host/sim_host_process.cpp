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
        quit_ = CreateEventA(nullptr, TRUE, FALSE, name.c_str());
        command += " --quit-event " + name;
    }

    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE write = nullptr;
    if (!CreatePipe(&output_, &write, &inherit, 0)) return;
    SetHandleInformation(output_, HANDLE_FLAG_INHERIT, 0);
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
        process_ = pi.hProcess;
        CloseHandle(pi.hThread);
    }
    // Only the child may hold the write end, or the reader never sees the end.
    CloseHandle(write);
    if (nul != INVALID_HANDLE_VALUE) CloseHandle(nul);
    if (process_ != nullptr) reader_ = std::thread([this] { ReadOutput(); });
}

SimHostProcess::~SimHostProcess() {
    if (process_ != nullptr && !Quit()) {
        TerminateProcess(process_, 3);
        WaitForSingleObject(process_, kPatienceMs);
    }
    if (reader_.joinable()) reader_.join();
    if (process_ != nullptr) CloseHandle(process_);
    if (quit_ != nullptr) CloseHandle(quit_);
    if (output_ != nullptr) CloseHandle(output_);
}

void SimHostProcess::ReadOutput() {
    std::string pending;
    char buf[512];
    DWORD got = 0;
    while (ReadFile(output_, buf, sizeof buf, &got, nullptr) && got > 0) {
        pending.append(buf, got);
        std::lock_guard<std::mutex> lock(mutex_);
        for (std::size_t eol; (eol = pending.find('\n')) != std::string::npos; pending.erase(0, eol + 1)) {
            std::string line = pending.substr(0, eol);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            lines_.push_back(line);
        }
        changed_.notify_all();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (!pending.empty()) lines_.push_back(pending);
    ended_ = true;
    changed_.notify_all();
}

bool SimHostProcess::WaitForLine(const std::string& word, std::string* line) {
    std::unique_lock<std::mutex> lock(mutex_);
    bool found = false;
    changed_.wait_for(lock, kPatience, [&] {
        for (; next_ < lines_.size() && !found; ++next_) {
            found = StartsWithWord(lines_[next_], word);
            if (found && line != nullptr) *line = lines_[next_];
        }
        return found || ended_;
    });
    return found;
}

bool SimHostProcess::Quit() {
    if (quit_ != nullptr) SetEvent(quit_);
    return WaitForExit();
}

bool SimHostProcess::WaitForExit() {
    if (process_ == nullptr || WaitForSingleObject(process_, kPatienceMs) != WAIT_OBJECT_0) return false;
    // The pipe closes with the process; once the reader sees that, it has everything.
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, kPatience, [this] { return ended_; });
}

DWORD SimHostProcess::ExitCode() const {
    DWORD code = 0xFFFFFFFF;
    if (process_ != nullptr) GetExitCodeProcess(process_, &code);
    return code;
}

std::vector<std::string> SimHostProcess::Lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
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
