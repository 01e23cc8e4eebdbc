// The click's cost on the playback thread: one period of 1024 frames
// (23.2 ms) rendered at the busiest grid there is (thirty-seconds at 300 BPM,
// 40 clicks a second, with accents) and at a plain quarter-note click. A
// period must take well under 116 us to stay below 0.5 % of a core.

#include "analysis/ClickTrack.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

void BM_ClickPeriod(benchmark::State& state)
{
    ClickGenerator generator;
    ClickSegment seg;
    seg.pattern.tempoBpm = static_cast<double>(state.range(0));
    seg.pattern.subdivision = static_cast<std::int32_t>(state.range(1));
    generator.schedule(seg);
    std::vector<std::int16_t> period(1024);
    for (auto _ : state) {
        generator.render(period.data(), 1024);
        benchmark::DoNotOptimize(period.data());
    }
}
BENCHMARK(BM_ClickPeriod)->Args({300, 8})->Args({120, 1});

} // namespace

BENCHMARK_MAIN();
