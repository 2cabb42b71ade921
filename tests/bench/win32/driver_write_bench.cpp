// Times DriverOutPB through KorvPortDll.dll beside this program, with whatever
// backend its KorvPortDll.cfg names: N writes alternating two bytes (so a HID
// board changes relays every time), each timed with the performance counter.
// Prints "writes=N median_us=.. p90_us=.. p99_us=.. max_us=..".
//
//   driver_write_bench.exe N

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "win32/module.h"
#include "win32/port_driver_abi.h"

using namespace kelvane;

int main(int argc, char** argv) {
    const int n = argc > 1 ? std::atoi(argv[1]) : 10000;
    const std::string dir = ModuleDirectory();
    Library driver(LoadLibraryQuietly(dir + "KorvPortDll.dll"));
    const auto load = driver.Proc<LoadPortDriverFn>("LoadPortDriver");
    const auto unload = driver.Proc<UnloadPortDriverFn>("UnloadPortDriver");
    const auto out = driver.Proc<DriverOutPBFn>("DriverOutPB");
    if (!load || !unload || !out || n <= 0 || !load(dir.c_str())) return 2;
    out(0x378, 0x01);  // opens the board: not part of a steady write
    LARGE_INTEGER hz, t0, t1;
    QueryPerformanceFrequency(&hz);
    std::vector<double> us(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        QueryPerformanceCounter(&t0);
        out(0x378, static_cast<std::uint8_t>(i % 2 ? 0x01 : 0x02));
        QueryPerformanceCounter(&t1);
        us[static_cast<std::size_t>(i)] =
            static_cast<double>(t1.QuadPart - t0.QuadPart) * 1e6 / static_cast<double>(hz.QuadPart);
    }
    unload();
    std::sort(us.begin(), us.end());
    const auto at = [&](double q) { return us[static_cast<std::size_t>(q * (n - 1))]; };
    std::printf("writes=%d median_us=%.1f p90_us=%.1f p99_us=%.1f max_us=%.1f\n", n, at(0.5), at(0.9), at(0.99),
                us.back());
    return 0;
}
