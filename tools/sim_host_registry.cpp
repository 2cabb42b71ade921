#include "tools/sim_host_registry.h"

#include <objbase.h>

#include <string>

#include "host/host_contract.h"

namespace kelvane::simhost {

namespace {

const wchar_t kClsidText[] = L"{5E0C9A34-7B21-4F6D-9C58-2A9D13E4B870}";
const std::wstring kProgIdClsidKey = std::wstring(kHostProgId) + L"\\CLSID";
const wchar_t kClassKey[] = L"CLSID\\{5E0C9A34-7B21-4F6D-9C58-2A9D13E4B870}";
const wchar_t kClassProgIdKey[] = L"CLSID\\{5E0C9A34-7B21-4F6D-9C58-2A9D13E4B870}\\ProgID";
const wchar_t kDescription[] = L"Simulated host radio";

bool SetDefault(const wchar_t* key, const wchar_t* value) {
    HKEY k;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k, nullptr) != ERROR_SUCCESS)
        return false;
    const auto bytes = static_cast<DWORD>((lstrlenW(value) + 1) * sizeof(wchar_t));
    const LONG rc = RegSetValueExW(k, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), bytes);
    RegCloseKey(k);
    return rc == ERROR_SUCCESS;
}

// The CLSID text the ProgID names, empty when it names none.
std::wstring RegisteredClass() {
    wchar_t text[64] = {};
    LONG size = sizeof text - sizeof(wchar_t);
    if (RegQueryValueW(HKEY_CLASSES_ROOT, kProgIdClsidKey.c_str(), text, &size) != ERROR_SUCCESS) return {};
    return text;
}

bool IsOurs(const std::wstring& clsid) { return lstrcmpiW(clsid.c_str(), kClsidText) == 0; }

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out += static_cast<char>(c);  // GUID text is ASCII
    return out;
}

bool DeleteKey(const wchar_t* key) {
    const LONG rc = RegDeleteKeyW(HKEY_CLASSES_ROOT, key);
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
}

}  // namespace

bool RegisterHost(std::string& message) {
    const std::wstring current = RegisteredClass();
    if (!current.empty() && !IsOurs(current)) {
        message = std::string(kHostProgIdText) + " is registered for " + Narrow(current) + "; left alone";
        return true;
    }
    if (SetDefault(kHostProgId, kDescription) && SetDefault(kProgIdClsidKey.c_str(), kClsidText) &&
        SetDefault(kClassKey, kDescription) && SetDefault(kClassProgIdKey, kHostProgId))
        return true;
    message = "cannot write HKEY_CLASSES_ROOT (administrator rights may be needed)";
    return false;
}

bool UnregisterHost(std::string& message) {
    const std::wstring current = RegisteredClass();
    bool ok = true;
    if (IsOurs(current))
        ok = DeleteKey(kProgIdClsidKey.c_str()) && DeleteKey(kHostProgId);
    else if (!current.empty())
        message = std::string(kHostProgIdText) + " is registered for " + Narrow(current) + "; left alone";
    ok = DeleteKey(kClassProgIdKey) && DeleteKey(kClassKey) && ok;
    if (!ok) message = "cannot remove the registration from HKEY_CLASSES_ROOT";
    return ok;
}

bool ClassToServe(CLSID& clsid, std::string& message) {
    std::wstring text = RegisteredClass();
    if (text.empty()) {
        if (!RegisterHost(message)) return false;
        text = kClsidText;
    }
    if (FAILED(CLSIDFromString(const_cast<wchar_t*>(text.c_str()), &clsid))) {
        message = std::string(kHostProgIdText) + " names a malformed class \"" + Narrow(text) + "\"";
        return false;
    }
    return true;
}

}  // namespace kelvane::simhost
