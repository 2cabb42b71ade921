#include "host/host_link.h"

#include <windows.h>
#include <oleauto.h>

#include "host/host_contract.h"

namespace kelvane {

HostLink::HostLink(HostLinkView& view) : m_view(view) {}

HostLink::~HostLink() = default;

bool HostLink::HoldsObject() const { return m_host.Object() != nullptr; }

void HostLink::ReleaseHost() { m_host.ReleaseDispatch(); }

void HostLink::OnHostTimer() {
    if (!m_bConnected && !HoldsObject()) ConnectHost();
    if (HoldsObject()) PollHost();
}

bool HostLink::ConnectHost() {
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(kHostProgId, &clsid))) return false;  // not installed

    // Only a running host is wanted: the switcher never starts one.
    IUnknown* running = nullptr;
    if (FAILED(GetActiveObject(clsid, nullptr, &running)) || running == nullptr) return false;

    IDispatch* dispatch = nullptr;
    const HRESULT hr = running->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch));
    running->Release();
    if (FAILED(hr) || dispatch == nullptr) return false;

    m_host.AttachDispatch(dispatch);
    m_bConnected = true;
    return true;
}

void HostLink::PollHost() {
    if (!HoldsObject()) return;
    double hertz = 0.0;
    try {
        hertz = m_host.GetPropertyR8(kFrequencyDispId);
    } catch (const DispatchError&) {
        // The host is gone. Its proxy is let go without a Release, which would
        // only be one more call to a server that no longer answers.
        m_host.DetachDispatch();
        m_bConnected = false;
        m_view.OnHostLost();
        return;
    }
    m_view.OnHostFrequency(hertz);
}

}  // namespace kelvane
