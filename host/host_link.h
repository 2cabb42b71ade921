#pragma once
// Attaches to the host radio program's running automation object and hands
// each frequency reading, or the loss of the host, to the main window.

#include "host/dispatch_driver.h"

namespace kelvane {

inline constexpr unsigned kHostTimerId = 1;
inline constexpr unsigned kHostTimerPeriodMs = 250;  // the program's poll period

// What the link needs from the main window.
class HostLinkView {
public:
    virtual void OnHostFrequency(double hertz) = 0;  // every reading, whatever its value
    virtual void OnHostLost() = 0;                   // the host stopped answering; the link let it go

protected:
    ~HostLinkView() = default;
};

class HostLink {
public:
    explicit HostLink(HostLinkView& view);
    ~HostLink();  // releases the host object if still held
    void OnHostTimer();
    bool ConnectHost();
    void PollHost();
    void ReleaseHost();
    bool m_bConnected = false;
    bool HoldsObject() const;

private:
    HostLinkView& m_view;
    DispatchDriver m_host;
};

}  // namespace kelvane
