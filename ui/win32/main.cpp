// The program's entry: the application object and the process-wide band table.

#include <windows.h>

#include "port/win32/port_driver.h"
#include "ui/win32/switcher_app.h"

namespace {

kelvane::BandTable g_bandTable;
kelvane::CSwitcherApp theApp(g_bandTable, kelvane::kSystemPortPlatform);

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    theApp.InitInstance();
    return theApp.ExitInstance();
}
