#pragma once
// The host's ProgID in HKCR (Wine does not look in HKCU\Software\Classes).
// An installed host's registration is never overwritten or removed.

#include <windows.h>

#include <string>

namespace kelvane::simhost {

// Each returns false with a reason in `message`; on success `message` may
// carry a note for the user.
bool RegisterHost(std::string& message);
bool UnregisterHost(std::string& message);
// The class the ProgID names; when it names none, ours, registered now.
bool ClassToServe(CLSID& clsid, std::string& message);

}  // namespace kelvane::simhost
