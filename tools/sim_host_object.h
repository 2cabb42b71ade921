#pragma once
// The simulated host's automation object: property 2 is the frequency in hertz,
// property 3 how many frequency reads it has answered (for tests and demos).

#include <windows.h>
#include <oaidl.h>

#include <string>

#include "host/host_contract.h"
#include "tools/sim_host_options.h"

namespace kelvane::simhost {

using kelvane::kFrequencyDispId;
inline constexpr DISPID kReadCountDispId = 3;  // the simulator's own, for tests and demos

class SimHostObject final : public IDispatch {
public:
    SimHostObject() = default;
    SimHostObject(const SimHostObject&) = delete;
    SimHostObject& operator=(const SimHostObject&) = delete;

    // Changes what reads return and prints a timestamped "change" line.
    void Serve(const Value& value);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* info, UINT* badArg) override;

private:
    ~SimHostObject() = default;

    LONG m_refs = 1;
    Value m_value;
    LONG m_reads = 0;
};

std::wstring Widen(const std::string& text);  // from the ANSI code page

// QueryPerformanceCounter in microseconds: one clock for every process on the
// machine, so a reader can set these stamps against its own.
unsigned long long NowMicroseconds();

// Prints one line to stdout, led by a word and the microsecond clock, and
// flushes it so a reader on a pipe sees it at once.
void Announce(const char* word, const std::string& rest = std::string());

}  // namespace kelvane::simhost
