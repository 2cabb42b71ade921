#pragma once
// Seams of port_driver.cpp that only tests reach.
#include <windows.h>

namespace kelvane::detail {

using GetVersionExAFn = BOOL(WINAPI*)(OSVERSIONINFOA*);
bool DetectPlatform(GetVersionExAFn getVersion);

}  // namespace kelvane::detail
