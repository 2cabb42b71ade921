// bench_probe.exe NAME: finds the running process whose image is NAME and prints
// its memory, handle and window counts as key=value lines. Each figure comes
// from the API a Windows tool would use; where Wine does not implement one it
// answers 0, so the handle count is also taken from the system handle table.

#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

DWORD FindProcess(const char* image) {
    const HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return 0;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    DWORD found = 0;
    for (BOOL ok = Process32First(snap, &entry); ok; ok = Process32Next(snap, &entry))
        if (lstrcmpiA(entry.szExeFile, image) == 0) found = entry.th32ProcessID;
    CloseHandle(snap);
    return found;
}

// SystemHandleInformation's layout (class 16), which winternl.h leaves opaque.
struct HandleEntry {
    ULONG ownerPid;
    BYTE objectType;
    BYTE flags;
    USHORT value;
    PVOID object;
    ACCESS_MASK access;
};
struct HandleTable {
    ULONG count;
    HandleEntry entries[1];
};

// -1 when the system handle table cannot be read.
long HandlesInSystemTable(DWORD pid) {
    constexpr NTSTATUS kLengthMismatch = static_cast<NTSTATUS>(0xC0000004L);
    std::vector<unsigned char> buffer(1 << 16);
    for (int tries = 0; tries < 16; ++tries) {
        ULONG needed = 0;
        const NTSTATUS status = NtQuerySystemInformation(static_cast<SYSTEM_INFORMATION_CLASS>(16), buffer.data(),
                                                         static_cast<ULONG>(buffer.size()), &needed);
        if (status == kLengthMismatch) {
            buffer.resize(needed > buffer.size() ? needed + 4096 : buffer.size() * 2);
            continue;
        }
        if (status < 0) return -1;
        const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
        long n = 0;
        for (ULONG i = 0; i < table->count; ++i)
            if (table->entries[i].ownerPid == pid) ++n;
        return n;
    }
    return -1;
}

struct WindowCount {
    DWORD pid;
    long count;
};

BOOL CALLBACK CountChild(HWND, LPARAM param) {
    ++reinterpret_cast<WindowCount*>(param)->count;
    return TRUE;
}

BOOL CALLBACK CountTop(HWND window, LPARAM param) {
    auto* c = reinterpret_cast<WindowCount*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != c->pid) return TRUE;
    ++c->count;
    EnumChildWindows(window, CountChild, param);
    return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_probe IMAGE.exe\n");
        return 2;
    }
    const DWORD pid = FindProcess(argv[1]);
    if (pid == 0) {
        std::fprintf(stderr, "bench_probe: no process %s\n", argv[1]);
        return 1;
    }
    const HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (process == nullptr) {
        std::fprintf(stderr, "bench_probe: cannot open process %lu\n", static_cast<unsigned long>(pid));
        return 1;
    }
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof memory;
    const BOOL haveMemory =
        GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory);
    DWORD handles = 0;
    const BOOL haveHandles = GetProcessHandleCount(process, &handles);
    WindowCount windows{pid, 0};
    EnumWindows(CountTop, reinterpret_cast<LPARAM>(&windows));

    std::printf("pid=%lu\n", static_cast<unsigned long>(pid));
    if (haveMemory) {
        std::printf("private_bytes=%lu\n", static_cast<unsigned long>(memory.PrivateUsage));
        std::printf("working_set=%lu\n", static_cast<unsigned long>(memory.WorkingSetSize));
    }
    std::printf("handles_api=%ld\n", haveHandles ? static_cast<long>(handles) : -1L);
    std::printf("handles_table=%ld\n", HandlesInSystemTable(pid));
    std::printf("gdi_objects=%lu\n", static_cast<unsigned long>(GetGuiResources(process, GR_GDIOBJECTS)));
    std::printf("user_objects=%lu\n", static_cast<unsigned long>(GetGuiResources(process, GR_USEROBJECTS)));
    std::printf("windows=%ld\n", windows.count);
    CloseHandle(process);
    return 0;
}
