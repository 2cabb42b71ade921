#include "ui/win32/switcher_app.h"

#include <ole2.h>

#include <clocale>

#include "settings/settings_file.h"
#include "ui/win32/save_report.h"

namespace kelvane {

void CSwitcherApp::StartUp(CSwitcherDlg& dlg) {
    dlg.m_hostPeriodMs = m_hostPeriodMs;
    // A short or damaged file loads by the early-end rule, as it always has.
    const SettingsLoad load = ReadSettingsFile(kSettingsFileName, dlg.m_core.m_tables, m_bands);
    m_unreadAtStart = load.state == SettingsState::kUnreadable;
    m_unreadReason = load.reason;
    dlg.LoadIcons();
    dlg.m_port.m_bNT = m_platform.detectPlatform();
    if (dlg.m_port.m_bNT && !m_platform.bindDriver()) m_platform.showDriverFailure();
}

void CSwitcherApp::ShutDown(CSwitcherDlg& dlg) const {
    if (dlg.m_port.m_bNT) m_platform.unbindDriver();
    // A file that was there but could not be read holds the user's tables,
    // while this run had only the defaults: it is not saved over.
    std::string reason;
    const bool saved = m_unreadAtStart || SaveSettings(kSettingsFileName, dlg.m_core.m_tables, m_bands, &reason);
    dlg.m_host.ReleaseHost();
    // Told only now, with the window gone and nothing left to release.
    if (m_unreadAtStart)
        ReportUnreadSettings(kSettingsFileName, m_unreadReason);
    else if (!saved)
        ReportSaveFailure(kSettingsFileName, reason);
}

bool CSwitcherApp::InitInstance() {
    std::setlocale(LC_ALL, "C");

    if (FAILED(OleInitialize(nullptr))) {
        MessageBoxA(nullptr, "OLE INIT FAILED", kAppTitle, MB_OK);
        return false;
    }
    m_bOleInitialised = true;

    // Whatever ended the run, the driver is unbound and the settings saved.
    CSwitcherDlg dlg(m_bands, m_platform);
    StartUp(dlg);
    dlg.DoModal();
    ShutDown(dlg);
    return false;
}

int CSwitcherApp::ExitInstance() {
    if (m_bOleInitialised) OleUninitialize();
    m_bOleInitialised = false;
    return 0;
}

}  // namespace kelvane
