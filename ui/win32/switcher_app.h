#pragma once
// The application object: prepares the process, starts the switcher, runs its
// window as the whole run, and takes it down again in the program's order.

#include <string>

#include "core/tables.h"
#include "port/port_write.h"
#include "ui/win32/switcher_dlg.h"

namespace kelvane {

class CSwitcherApp {
public:
    CSwitcherApp(BandTable& bands, const PortPlatform& platform, unsigned hostPeriodMs = kHostTimerPeriodMs)
        : m_bands(bands), m_platform(platform), m_hostPeriodMs(hostPeriodMs) {}

    // Runs the switcher to its end. Returns false, as the program then ends.
    bool InitInstance();
    // Undoes what InitInstance left for the end of the process.
    int ExitInstance();

    // Loads the settings from the current directory, the icons, detects the
    // platform and, on the NT family, binds the port driver (telling the user
    // once when it cannot).
    void StartUp(CSwitcherDlg& dlg);
    // Unbinds the driver, saves the settings unless the file was there but
    // unreadable at start (then says so instead), and releases the host last.
    void ShutDown(CSwitcherDlg& dlg) const;

private:
    BandTable& m_bands;
    const PortPlatform m_platform;
    const unsigned m_hostPeriodMs;
    bool m_bOleInitialised = false;
    bool m_unreadAtStart = false;
    std::string m_unreadReason;
};

}  // namespace kelvane
