// The figures, speed curve and marked intervals of a 15-minute endless run
// at 20 strokes per second (18,000 strokes) with a drummer's jitter, a few
// bounces and lost strokes: the whole report of a long run must take well
// under 5 ms. Also the live step: one more stroke and fresh figures.

#include "analysis/RunFigures.h"

#include <benchmark/benchmark.h>

#include <cstdint>

namespace {

RunRecord longRun()
{
    RunRecord run;
    run.ticksPerSecond = kAudioTicksPerSecond;
    std::uint32_t seed = 12345;
    std::int64_t tick = 0;
    for (int i = 0; i < 18000; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const std::int64_t jitter = static_cast<std::int64_t>(seed >> 22) - 512; // about +-12 ms
        std::int64_t step = kAudioTicksPerSecond / 20 + jitter;
        if (i % 997 == 0)
            step /= 5; // a bounce
        else if (i % 1499 == 0)
            step *= 2; // a lost stroke
        tick += step;
        run.strokes.push_back({tick, 0.5f, -1});
    }
    return run;
}

void BM_ReportOfFifteenMinuteRun(benchmark::State& state)
{
    const RunRecord run = longRun();
    for (auto _ : state) {
        RunAnalysis analysis = analyzeRun(run);
        benchmark::DoNotOptimize(analysis);
    }
}
BENCHMARK(BM_ReportOfFifteenMinuteRun)->Unit(benchmark::kMillisecond);

void BM_LiveStrokeAndFiguresAfter18000(benchmark::State& state)
{
    const std::vector<double> times = strokeSeconds(longRun());
    RunAnalyzer analyzer;
    for (const double t : times)
        analyzer.addStroke(t);
    double t = times.back();
    for (auto _ : state) {
        t += 0.05;
        analyzer.addStroke(t);
        RunFigures figures = analyzer.figures();
        benchmark::DoNotOptimize(figures);
    }
}
BENCHMARK(BM_LiveStrokeAndFiguresAfter18000)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
