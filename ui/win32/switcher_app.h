#pragma once
// The application object: prepares the process, runs the switcher window as
// the whole run, and takes it down again.

#include "core/tables.h"
#include "ui/win32/switcher_dlg.h"

namespace kelvane {

class CSwitcherApp {
public:
    CSwitcherApp(BandTable& bands, const PortPlatform& platform) : m_bands(bands), m_platform(platform) {}

    // Runs the switcher to its end. Returns false, as the program then ends.
    bool InitInstance();
    // Undoes what InitInstance left for the end of the process.
    int ExitInstance();

private:
    BandTable& m_bands;
    const PortPlatform m_platform;
    bool m_oleInitialised = false;
};

}  // namespace kelvane
