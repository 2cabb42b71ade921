#include "host/host_link.h"

#include <windows.h>
#include <oleauto.h>

#include <cmath>

#include "core/ctext.h"

namespace kelvane {

namespace {
constexpr DISPID kFrequencyDispId = 2;  // hertz
}

HostLink::HostLink(HostLinkView& view) : view_(view) {}

HostLink::~HostLink() = default;

bool HostLink::HoldsObject() const { return host_.Object() != nullptr; }

void HostLink::OnHostTimer() {
    if (m_bConnected == 0 && !HoldsObject()) ConnectHost();
    if (HoldsObject()) PollHost();
}

int HostLink::ConnectHost() {
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(kHostProgId, &clsid))) return 0;  // not installed

    // Only a running host is wanted: the switcher never starts one.
    IUnknown* running = nullptr;
    if (FAILED(GetActiveObject(clsid, nullptr, &running)) || running == nullptr) return 0;

    IDispatch* dispatch = nullptr;
    const HRESULT hr = running->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch));
    running->Release();
    if (FAILED(hr) || dispatch == nullptr) return 0;

    host_.AttachDispatch(dispatch);
    m_bConnected = 1;
    return 1;
}

void HostLink::PollHost() {
    if (!HoldsObject()) return;
    double hertz = 0.0;
    try {
        hertz = host_.GetPropertyR8(kFrequencyDispId);
    } catch (const DispatchError&) {
        // The host is gone. Its proxy is let go without a Release, which would
        // only be one more call to a server that no longer answers.
        view_.StopHostTimer();
        host_.DetachDispatch();
        m_bConnected = 0;
        view_.EndRun();
        return;
    }

    const double kHz = hertz * 0.001;
    // NaN and infinities are no frequency, like 0: their text ("nan", "inf")
    // would read back as 0 kHz and switch to whatever band holds 0.
    if (!std::isfinite(kHz)) return;
    // Set on every tick, changed or not, so the port is rewritten while the host
    // stays inside a band.
    if (view_.IsAutoOn() != 0 && kHz != 0.0) view_.SetFrequencyText(FormatKHz(kHz));
}

}  // namespace kelvane
