#pragma once
// The one clock that the simulated host's "change" lines and the port journal's
// qpc= stamps share, so a benchmark can subtract one from the other.

#include <windows.h>

namespace kelvane {

// QueryPerformanceCounter in microseconds: the same for every process on the machine.
inline unsigned long long QpcMicroseconds() {
    LARGE_INTEGER count, freq;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&freq);
    const auto c = static_cast<unsigned long long>(count.QuadPart);
    const auto f = static_cast<unsigned long long>(freq.QuadPart);
    // Split so that c * 1000000 cannot overflow however long the machine has run.
    return c / f * 1000000ull + c % f * 1000000ull / f;
}

}  // namespace kelvane
