#pragma once
// Attaches to the host radio program's running automation object and feeds its
// frequency to the switching core through the frequency field.
#include <string>

#include "host/dispatch_driver.h"

namespace kelvane {
inline constexpr wchar_t kHostProgId[] = L"Korvel2.Application";
inline constexpr unsigned kHostTimerId = 1;
// Only a time-compressed benchmark build overrides it; the program polls at 250 ms.
#ifndef KELVANE_BENCH_HOST_TIMER_PERIOD_MS
inline constexpr unsigned kHostTimerPeriodMs = 250;
#else
inline constexpr unsigned kHostTimerPeriodMs = KELVANE_BENCH_HOST_TIMER_PERIOD_MS;
#endif
// What the link needs from the main window.
class HostLinkView {
public:
    virtual int IsAutoOn() = 0;  // the core's m_bAuto
    virtual void SetFrequencyText(
        const std::string& text) = 0;  // sets IDC_FREQ's text; its change notification runs MatchFrequency
    virtual void StopHostTimer() = 0;  // KillTimer(timer 1)
    virtual void EndRun() = 0;         // ends the main window's modal loop with IDOK
protected:
    ~HostLinkView() = default;
};
class HostLink {
public:
    explicit HostLink(HostLinkView& view);
    ~HostLink();  // releases the host object if still held
    void OnHostTimer();
    int ConnectHost();
    void PollHost();
    int m_bConnected = 0;
    bool HoldsObject() const;

private:
    HostLinkView& view_;
    DispatchDriver host_;
};
}  // namespace kelvane
