// The port calls as the USB backends take them: the port address means nothing
// to a relay board, and only the low byte of a write is switched.
//
// The board is reached from a worker thread of its own: a write only leaves the
// latest byte for it, so a board that is slow to enumerate, absent or stuck in
// a call never holds the program's timer.

#include "driver/usb_io.h"

#include <utility>

#include "outputs/output_hold.h"
#include "win32/locked.h"

namespace korvport {
namespace {

using kelvane::Locked;
using kelvane::outputs::OutputDevice;
using kelvane::outputs::OutputEvent;
using kelvane::outputs::OutputHold;
using kelvane::outputs::OutputReport;

// A device call still running after this is a board "not answering".
constexpr DWORD kAnswerMs = 250;
// How long unloading waits for the worker before leaving it to finish alone.
constexpr DWORD kUnloadWaitMs = 1000;

// What the program's side and the worker share; the last of the two to let go
// deletes it, so a worker that outlives the unload still has it.
class Shared {
public:
    explicit Shared(std::string statusPath) : m_statusPath(std::move(statusPath)) {
        InitializeCriticalSection(&lock);
        InitializeCriticalSection(&m_statusLock);
    }
    ~Shared() {
        if (wake) CloseHandle(wake);
        DeleteCriticalSection(&m_statusLock);
        DeleteCriticalSection(&lock);
    }
    Shared(const Shared&) = delete;
    Shared& operator=(const Shared&) = delete;

    void Release() {
        if (InterlockedDecrement(&m_refs) == 0) delete this;
    }
    // The worker and the overdue timer both write the log; one line at a time.
    void Status(const std::string& text) {
        Locked hold(m_statusLock);
        AppendStatus(m_statusPath, text);
    }

    HANDLE wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    CRITICAL_SECTION lock;
    // Under `lock`:
    bool stop = false;
    bool pending = false;  // `latest` has not reached the board yet
    std::uint8_t latest = 0;
    bool inCall = false;
    bool late = false;      // the call in progress has been reported overdue
    OutputReport callLate;  // what the status line says if it is

private:
    LONG m_refs = 2;
    std::string m_statusPath;
    CRITICAL_SECTION m_statusLock;
};

// The status log's words for the hold's reports; the tests and the user guide quote them.
std::string StatusText(const OutputReport& r) {
    switch (r.kind) {
    case OutputReport::kFound:
        return "found: " + r.name;
    case OutputReport::kBack:
        return "back: " + r.name;
    case OutputReport::kAbsent:
        return "not found: " + r.why;
    case OutputReport::kLost:
        return "lost: " + r.name + ", write failed";
    case OutputReport::kNotAnswering:
        return "not answering: " + (r.name.empty() ? r.why : r.name + ", " + r.why);
    }
    return r.why;
}

struct Worker {
    Worker(Shared* s, std::unique_ptr<OutputDevice> board)
        : shared(s),
          hold(
              std::move(board), [] { return static_cast<std::uint32_t>(GetTickCount()); },
              [s](const OutputReport& r) { s->Status(StatusText(r)); }) {}
    Shared* shared;
    OutputHold hold;
    HMODULE self = nullptr;  // the worker's own hold on this library
};

VOID CALLBACK Overdue(PVOID param, BOOLEAN) {
    auto* s = static_cast<Shared*>(param);
    OutputReport report{OutputReport::kNotAnswering, {}, {}};
    {
        Locked hold(s->lock);
        if (!s->inCall || s->late) return;
        s->late = true;
        report = s->callLate;
    }
    s->Status(StatusText(report));
}

// One turn of the hold with the overdue timer armed over it. True when it ran late.
bool TimedService(Worker& w) {
    Shared& s = *w.shared;
    HANDLE timer = nullptr;
    if (!CreateTimerQueueTimer(&timer, nullptr, Overdue, &s, kAnswerMs, 0, WT_EXECUTEONLYONCE)) timer = nullptr;
    w.hold.Service();
    // Waits for a running Overdue, which must not outlive the call it reports.
    if (timer) DeleteTimerQueueTimer(nullptr, timer, INVALID_HANDLE_VALUE);
    Locked hold(s.lock);
    s.inCall = false;
    return s.late;
}

DWORD WINAPI Run(void* param) {
    auto* w = static_cast<Worker*>(param);
    Shared& s = *w->shared;
    const HMODULE self = w->self;
    const std::string late = "took over " + std::to_string(kAnswerMs) + " ms";
    for (;;) {
        DWORD wait = 0;
        {
            Locked hold(s.lock);
            // The latest byte wins; one not yet written is replaced.
            if (s.pending) w->hold.Want(OutputEvent{s.latest, 0, {}});
            s.pending = false;
            // On the way out, a byte still pending goes to a board that is open.
            if (s.stop && !(w->hold.Pending() && w->hold.DeviceOpen())) break;
            wait = w->hold.Pending() ? w->hold.MsUntilRetry() : INFINITE;
            if (wait == 0) {
                s.inCall = true;
                s.late = false;
                s.callLate = w->hold.DeviceOpen()
                                 ? OutputReport{OutputReport::kNotAnswering, w->hold.Name(), "a write " + late}
                                 : OutputReport{OutputReport::kNotAnswering, {}, "the search for the board " + late};
            }
        }
        if (wait != 0) {
            WaitForSingleObject(s.wake, wait);
            continue;
        }
        // A board that hung is not trusted with the next byte: closed, and looked
        // for anew; the byte goes again unless a newer one came.
        if (TimedService(*w)) w->hold.Stalled();
    }
    delete w;  // closes the board and frees its library
    s.Release();
    FreeLibraryAndExitThread(self, 0);
    return 0;
}

class UsbIo final : public PortIo {
public:
    UsbIo(Shared* shared, HANDLE thread) : m_shared(shared), m_thread(thread) {}
    ~UsbIo() override {
        {
            Locked hold(m_shared->lock);
            m_shared->stop = true;
        }
        SetEvent(m_shared->wake);
        // A worker stuck in the board's library is left to finish alone; it holds
        // this library until then.
        WaitForSingleObject(m_thread, kUnloadWaitMs);
        CloseHandle(m_thread);
        m_shared->Release();
    }
    UsbIo(const UsbIo&) = delete;
    UsbIo& operator=(const UsbIo&) = delete;

    // The latest byte wins: one the worker has not taken yet is replaced.
    void Write(const char*, std::uint16_t, std::uint32_t value, int) override {
        {
            Locked hold(m_shared->lock);
            m_shared->latest = static_cast<std::uint8_t>(value & 0xFF);
            m_shared->pending = true;
        }
        SetEvent(m_shared->wake);
    }
    // Nothing to read back from a relay board: an empty port's all ones.
    std::uint32_t Read(const char*, std::uint16_t, int bytes) override {
        return bytes == 4 ? 0xFFFFFFFFu : (1u << (8 * bytes)) - 1;
    }
    void Beep(std::uint32_t, std::uint32_t) override {}
    void Note(const char*, const std::string&) override {}

private:
    Shared* m_shared;
    HANDLE m_thread;
};

}  // namespace

std::unique_ptr<PortIo> OpenUsb(const Config& config, const std::string& libraryDir, const std::string& statusPath) {
    std::string board = config.serial.empty() ? "first board found" : "serial " + config.serial;
    if (config.backend == Backend::Ftdi && config.serial.empty() && config.index >= 0)
        board = "device " + std::to_string(config.index);
    AppendStatus(statusPath, std::string("configured: backend=") + BackendName(config.backend) + ", " + board +
                                 ", invert " + (config.invert ? "on" : "off"));
    auto device =
        config.backend == Backend::Ftdi ? MakeFtdiBoard(config, libraryDir) : MakeHidRelayBoard(config, libraryDir);
    auto* shared = new Shared(statusPath);
    auto* worker = new Worker(shared, std::move(device));
    HANDLE thread = nullptr;
    if (shared->wake &&
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&Run), &worker->self))
        thread = CreateThread(nullptr, 0, Run, worker, 0, nullptr);
    if (!thread) {
        if (worker->self) FreeLibrary(worker->self);
        delete worker;
        shared->Release();
        shared->Release();
        return nullptr;
    }
    return std::make_unique<UsbIo>(shared, thread);
}

}  // namespace korvport
