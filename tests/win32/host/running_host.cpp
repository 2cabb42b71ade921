#include "running_host.h"

#include <windows.h>
#include <ole2.h>

#include "host/dispatch_driver.h"
#include "host/host_contract.h"
#include "host/host_link.h"

namespace kelvane::testing {

IDispatch* RunningHost() {
    CLSID clsid;
    IUnknown* running = nullptr;
    IDispatch* dispatch = nullptr;
    if (FAILED(CLSIDFromProgID(kHostProgId, &clsid)) || FAILED(GetActiveObject(clsid, nullptr, &running)))
        return nullptr;
    running->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch));
    running->Release();
    return dispatch;
}

double HostReadCount() {
    IDispatch* dispatch = RunningHost();
    if (dispatch == nullptr) return -1;
    DispatchDriver host;
    host.AttachDispatch(dispatch);
    try {
        return host.GetPropertyR8(3);
    } catch (const DispatchError&) {
        return -1;
    }
}

}  // namespace kelvane::testing
