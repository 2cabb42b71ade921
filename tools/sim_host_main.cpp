// KorvSimHost.exe: a stand-in for the host radio program. It publishes a running
// "Korvel2.Application" object whose property 2 is the frequency in hertz.

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tools/sim_host_object.h"
#include "tools/sim_host_options.h"
#include "tools/sim_host_registry.h"
#include "tools/sim_host_window.h"

using namespace kelvane::simhost;

namespace {

HANDLE g_stop = nullptr;

BOOL WINAPI OnConsoleControl(DWORD) {
    SetEvent(g_stop);
    return TRUE;
}

// False once the window has been closed.
bool PumpMessages(HWND window) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) return false;
        if (window != nullptr && IsDialogMessageW(window, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return true;
}

unsigned long long NowMs() { return NowMicroseconds() / 1000; }

Value HertzValue(double hertz) {
    Value v;
    v.hertz = hertz;
    return v;
}

// Serves the steps in turn (or the one value) until the steps run out, the
// window closes or the host is told to stop. Incoming automation calls arrive
// as window messages, so the loop always pumps.
void Run(const Options& opt, SimHostObject& object, HWND window) {
    const std::vector<Step>& steps = opt.steps;
    std::size_t step = 0;
    std::uint32_t round = 1;
    unsigned long long due = steps.empty() ? 0 : NowMs() + steps[0].ms;
    for (;;) {
        DWORD timeout = INFINITE;
        if (!steps.empty()) {
            const unsigned long long now = NowMs();
            timeout = due > now ? static_cast<DWORD>(due - now) : 0;
        }
        const DWORD woke = MsgWaitForMultipleObjects(1, &g_stop, FALSE, timeout, QS_ALLINPUT);
        if (woke == WAIT_OBJECT_0 || woke == WAIT_FAILED) return;
        if (woke == WAIT_OBJECT_0 + 1 && !PumpMessages(window)) return;
        if (steps.empty() || NowMs() < due) continue;
        if (++step == steps.size()) {
            step = 0;
            if (opt.repeat != 0 && ++round > opt.repeat) return;
        }
        object.Serve(HertzValue(steps[step].hertz));
        due += steps[step].ms;
    }
}

int Serve(const Options& opt) {
    if (FAILED(OleInitialize(nullptr))) {
        std::fprintf(stderr, "KorvSimHost: OLE initialisation failed\n");
        return 1;
    }
    std::string message;
    CLSID clsid;
    if (!ClassToServe(clsid, message)) {
        std::fprintf(stderr, "KorvSimHost: %s\n", message.c_str());
        OleUninitialize();
        return 1;
    }
    g_stop = opt.quitEvent.empty() ? CreateEventW(nullptr, TRUE, FALSE, nullptr)
                                   : CreateEventW(nullptr, TRUE, FALSE, Widen(opt.quitEvent).c_str());
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);

    auto* object = new SimHostObject;
    object->Serve(opt.steps.empty() ? opt.value : HertzValue(opt.steps[0].hertz));
    HWND window = opt.window ? CreateHostWindow(*object, opt.value.hertz) : nullptr;

    DWORD cookie = 0;
    const HRESULT hr = RegisterActiveObject(object, clsid, ACTIVEOBJECT_STRONG, &cookie);
    int status = 0;
    if (FAILED(hr) || g_stop == nullptr || (opt.window && window == nullptr)) {
        std::fprintf(stderr, "KorvSimHost: cannot publish the running object (0x%08lx)\n",
                     static_cast<unsigned long>(hr));
        status = 1;
    } else {
        Announce("ready", "pid " + std::to_string(GetCurrentProcessId()));
        Run(opt, *object, window);
    }

    if (window != nullptr && IsWindow(window)) DestroyWindow(window);
    if (SUCCEEDED(hr)) RevokeActiveObject(cookie, nullptr);
    // Cut off clients still holding proxies, so their next read fails at once.
    CoDisconnectObject(object, 0);
    object->Release();
    OleUninitialize();
    if (g_stop != nullptr) CloseHandle(g_stop);
    Announce("exit");
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    Options opt;
    std::string message;
    if (!ParseOptions(std::vector<std::string>(argv + 1, argv + argc), opt, message)) {
        std::fprintf(stderr, "KorvSimHost: %s\n%s", message.c_str(), kUsage);
        return 2;
    }
    bool ok = true;
    switch (opt.mode) {
    case Mode::Help:
        std::fputs(kUsage, stdout);
        return 0;
    case Mode::Register:
        ok = RegisterHost(message);
        break;
    case Mode::Unregister:
        ok = UnregisterHost(message);
        break;
    case Mode::Serve:
        return Serve(opt);
    }
    if (!message.empty()) std::fprintf(ok ? stdout : stderr, "KorvSimHost: %s\n", message.c_str());
    return ok ? 0 : 1;
}
