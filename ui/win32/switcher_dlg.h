#pragma once
// The main window: ten band rows, the frequency, Auto and the current antenna.
// It owns the switching core and the host link and is the view of both.

#include <windows.h>

#include <string>

#include "core/switcher_core.h"
#include "host/host_link.h"
#include "ui/win32/dialog.h"

namespace kelvane {

// The port side as the window uses it. The program passes the system's
// process-wide binding and functions; tests pass recorders.
struct PortPlatform {
    PortDriverBinding* binding;
    PortOutByteFn outByte;  // the 9x route
    int (*detectPlatform)();
    int (*bindDriver)(PortDriverBinding&);
    int (*unbindDriver)(PortDriverBinding&);
    void (*showDriverFailure)();
};

class CSwitcherDlg : public CDialog, public SwitcherView, public HostLinkView {
public:
    // Loads the settings file from the current directory and, on the NT
    // family, binds the port driver (telling the user once when it cannot).
    CSwitcherDlg(BandTable& bands, const PortPlatform& platform, HWND parent = nullptr);
    // Unbinds the driver, saves the settings, then releases the host.
    ~CSwitcherDlg() override;

    void RefreshLists();

    // SwitcherView
    void ReadControls() override { UpdateData(true); }
    void WriteControls() override { UpdateData(false); }
    std::string GetFrequencyText() override;
    void ShowCurrentAntenna(int a) override;
    int GetCurrentAntennaSelection() override;

    // HostLinkView
    int IsAutoOn() override { return m_core.m_bAuto; }
    void SetFrequencyText(const std::string& text) override;
    void StopHostTimer() override;
    void EndRun() override { EndDialog(IDOK); }

    BandTable& m_bands;
    const PortPlatform m_platform;
    PortWriter m_port;
    SwitcherCore m_core;
    HICON m_hIcon = nullptr;
    HICON m_hIconSmall = nullptr;
    // Declared last: destroyed after the destructor's body, so the host
    // object goes after the driver and the settings.
    HostLink m_host;

protected:
    void DoDataExchange(CDataExchange& dx) override;
    BOOL OnInitDialog() override;
    void OnOK() override {}  // Enter in a field must not close the switcher
    bool OnCommand(int id, int code) override;
    bool OnTimer(UINT_PTR id) override;
    bool OnSysCommand(WPARAM id) override;
    bool OnPaint() override;
    HICON OnQueryDragIcon() override { return m_hIcon; }

private:
    void OnFreqChanged() { m_core.MatchFrequency(); }
    void OnAutoClicked() { m_core.OnAutoClicked(); }
    void OnNowAntennaChanged() { m_core.SelectAntennaManually(); }
    void OnBandAntennaChanged() { m_core.OnBandAntennaChanged(); }
    void OnConfig();
};

}  // namespace kelvane
