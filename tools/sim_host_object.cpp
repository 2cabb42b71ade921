#include "tools/sim_host_object.h"

#include "win32/qpc_clock.h"

#include <cstdio>
#include <string>

namespace kelvane::simhost {

std::wstring Widen(const std::string& text) {
    const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

unsigned long long NowMicroseconds() { return QpcMicroseconds(); }

namespace {

BSTR ToBstr(const std::string& text) {
    const std::wstring wide = Widen(text);
    return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

}  // namespace

void Announce(const char* word, const std::string& rest) {
    std::printf("%s %llu%s%s\n", word, NowMicroseconds(), rest.empty() ? "" : " ", rest.c_str());
    std::fflush(stdout);
}

void SimHostObject::Serve(const Value& value) {
    m_value = value;
    Announce("change", Describe(value));
}

HRESULT SimHostObject::QueryInterface(REFIID iid, void** out) {
    if (out == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch)) {
        *out = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG SimHostObject::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }

ULONG SimHostObject::Release() {
    const LONG left = InterlockedDecrement(&m_refs);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
}

HRESULT SimHostObject::GetTypeInfoCount(UINT* count) {
    if (count == nullptr) return E_POINTER;
    *count = 0;
    return S_OK;
}

HRESULT SimHostObject::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info != nullptr) *info = nullptr;
    return DISP_E_BADINDEX;
}

HRESULT SimHostObject::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (names == nullptr || ids == nullptr) return E_POINTER;
    HRESULT hr = S_OK;
    for (UINT i = 0; i < count; ++i) {
        if (lstrcmpiW(names[i], L"Frequency") == 0)
            ids[i] = kFrequencyDispId;
        else if (lstrcmpiW(names[i], L"ReadCount") == 0)
            ids[i] = kReadCountDispId;
        else {
            ids[i] = DISPID_UNKNOWN;
            hr = DISP_E_UNKNOWNNAME;
        }
    }
    return hr;
}

HRESULT SimHostObject::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* info,
                              UINT*) {
    if (id != kFrequencyDispId && id != kReadCountDispId) return DISP_E_MEMBERNOTFOUND;
    if ((flags & DISPATCH_PROPERTYGET) == 0) return DISP_E_MEMBERNOTFOUND;
    if (params != nullptr && params->cArgs != 0) return DISP_E_BADPARAMCOUNT;
    if (result == nullptr) return E_POINTER;
    VariantInit(result);

    if (id == kReadCountDispId) {
        result->vt = VT_I4;
        result->lVal = m_reads;
        return S_OK;
    }
    ++m_reads;
    switch (m_value.kind) {
    case Value::Hertz:
        result->vt = VT_R8;
        result->dblVal = m_value.hertz;
        return S_OK;
    case Value::Text:
        result->vt = VT_BSTR;
        result->bstrVal = ToBstr(m_value.text);
        return result->bstrVal != nullptr ? S_OK : E_OUTOFMEMORY;
    case Value::Empty:
        return S_OK;  // VariantInit left it VT_EMPTY
    case Value::Fail:
        break;
    }
    // Described like a real server's failure, so callers must free the strings.
    if (info != nullptr) {
        *info = EXCEPINFO{};
        info->scode = E_FAIL;
        info->bstrSource = SysAllocString(kHostProgId);
        info->bstrDescription = SysAllocString(L"The radio does not answer.");
        return DISP_E_EXCEPTION;
    }
    return E_FAIL;
}

}  // namespace kelvane::simhost
