#pragma once
// The main window: ten band rows, the frequency, Auto and the current antenna.
// It owns the switching core and the host link and is the view of both.

#include <windows.h>

#include <string>

#include "core/switcher_core.h"
#include "host/host_link.h"
#include "port/port_write.h"
#include "ui/win32/dialog.h"

namespace kelvane {

class CSwitcherDlg : public CDialog, public SwitcherView, public HostLinkView {
public:
    // Start-up and shutdown (settings, icons, the port driver) are the
    // application object's: see CSwitcherApp.
    CSwitcherDlg(BandTable& bands, const PortPlatform& platform, HWND parent = nullptr);

    void LoadIcons();
    void RefreshLists();

    // SwitcherView
    void ReadControls() override { UpdateData(true); }
    void WriteControls() override { UpdateData(false); }
    std::string GetFrequencyText() override;
    void ShowCurrentAntenna(int a) override;
    int GetCurrentAntennaSelection() override;
    void SetFrequencyText(const std::string& text) override;

    // HostLinkView
    void OnHostFrequency(double hertz) override { m_core.OnHostFrequency(hertz); }
    void OnHostLost() override;

    BandTable& m_bands;
    PortWriter m_port;
    SwitcherCore m_core;
    unsigned m_hostPeriodMs = kHostTimerPeriodMs;
    HICON m_hIcon = nullptr;
    HICON m_hIconSmall = nullptr;
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
