#include "host/dispatch_driver.h"

#include <windows.h>
#include <oleauto.h>

namespace kelvane {

void DispatchDriver::AttachDispatch(IDispatch* dispatch) {
    ReleaseDispatch();
    m_dispatch = dispatch;
}

IDispatch* DispatchDriver::DetachDispatch() {
    IDispatch* held = m_dispatch;
    m_dispatch = nullptr;
    return held;
}

void DispatchDriver::ReleaseDispatch() {
    if (m_dispatch != nullptr) {
        // Cleared first: Release may call back into a caller that looks at us.
        IDispatch* held = DetachDispatch();
        held->Release();
    }
}

double DispatchDriver::GetPropertyR8(long dispid) const {
    if (m_dispatch == nullptr) throw DispatchError(E_POINTER);

    DISPPARAMS noArgs = {nullptr, nullptr, 0, 0};
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO info = {};
    UINT badArg = 0;
    HRESULT hr = m_dispatch->Invoke(dispid, IID_NULL, 0, DISPATCH_PROPERTYGET, &noArgs, &result, &info, &badArg);
    if (FAILED(hr)) {
        if (hr == DISP_E_EXCEPTION) {
            // The server's strings are ours to free, whether or not anyone reads them.
            if (info.pfnDeferredFillIn != nullptr) info.pfnDeferredFillIn(&info);
            SysFreeString(info.bstrSource);
            SysFreeString(info.bstrDescription);
            SysFreeString(info.bstrHelpFile);
        }
        VariantClear(&result);
        throw DispatchError(hr);
    }
    hr = VariantChangeType(&result, &result, 0, VT_R8);
    if (FAILED(hr)) {
        VariantClear(&result);
        throw DispatchError(hr);
    }
    return result.dblVal;
}

}  // namespace kelvane
