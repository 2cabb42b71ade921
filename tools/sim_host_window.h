#pragma once
// A small window where a person types the frequency the host serves.

#include <windows.h>

#include "tools/sim_host_object.h"

namespace kelvane::simhost {

inline constexpr wchar_t kWindowTitle[] = L"Simulated host radio";
inline constexpr int kFrequencyEditId = 100;
inline constexpr int kStatusId = 101;

// The window ends the message loop (WM_QUIT) when it is closed.
HWND CreateHostWindow(SimHostObject& object, double hertz);

}  // namespace kelvane::simhost
