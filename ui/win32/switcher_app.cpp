#include "ui/win32/switcher_app.h"

#include <ole2.h>

#include <clocale>
#include <memory>

namespace kelvane {

bool CSwitcherApp::InitInstance() {
    std::setlocale(LC_ALL, "C");

    if (FAILED(OleInitialize(nullptr))) {
        MessageBoxA(nullptr, "OLE INIT FAILED", kAppTitle, MB_OK);
        return false;
    }
    m_oleInitialised = true;

    // The window object outlives its window: its destructor unbinds the port
    // driver, saves the settings and releases the host, whatever ended the run.
    auto dlg = std::make_unique<CSwitcherDlg>(m_bands, m_platform);
    dlg->DoModal();
    dlg.reset();
    return false;
}

int CSwitcherApp::ExitInstance() {
    if (m_oleInitialised) OleUninitialize();
    m_oleInitialised = false;
    return 0;
}

}  // namespace kelvane
