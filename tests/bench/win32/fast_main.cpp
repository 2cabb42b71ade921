// KelvaneFast.exe: the program as shipped, but polling the host every
// KELVANE_BENCH_TICK_MS, so a benchmark sees thousands of ticks in seconds.

#include <windows.h>

#include "port/win32/port_driver.h"
#include "ui/win32/switcher_app.h"

namespace {

kelvane::BandTable g_bandTable;
kelvane::CSwitcherApp theApp(g_bandTable, kelvane::kSystemPortPlatform, KELVANE_BENCH_TICK_MS);

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    theApp.InitInstance();
    return theApp.ExitInstance();
}
