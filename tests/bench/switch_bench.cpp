// One host poll's worth of switching: parse the field, walk the bands, write the port.
#include <benchmark/benchmark.h>

#include "switching_fixture.h"

using namespace kelvane::testing;

static void BM_PollMatchInBand(benchmark::State& state) {
    Station s;
    s.view.freqText = "14074.000";
    for (auto _ : state) {
        s.core.MatchFrequency();
        RecordedWrites().clear();
    }
}
BENCHMARK(BM_PollMatchInBand);

static void BM_PollMatchOutsideBands(benchmark::State& state) {
    Station s;
    s.view.freqText = "5357.000";
    for (auto _ : state) s.core.MatchFrequency();
}
BENCHMARK(BM_PollMatchOutsideBands);

static void BM_SetAntenna(benchmark::State& state) {
    Station s;
    int a = 0;
    for (auto _ : state) {
        s.core.SetAntenna(a);
        a = (a + 1) % 10;
        RecordedWrites().clear();
    }
}
BENCHMARK(BM_SetAntenna);

BENCHMARK_MAIN();
