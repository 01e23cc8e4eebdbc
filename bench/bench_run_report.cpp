// The Run Report window following a run at 20 strokes per second: one 100 ms
// step (two new strokes) once 200 or 18,000 (15 minutes) are shown, with and
// without painting the window, and with the click (sixteenths at 300 BPM),
// whose timing chart is drawn anew on each step. This is the work the main
// window's tick hands it; the two lengths should cost about the same
// without the click.

#include "ui/report/QX_RunReport.h"

#include <QApplication>
#include <QImage>

#include <benchmark/benchmark.h>

namespace {

void addStrokes(RunRecord& run, int count)
{
    for (int i = 0; i < count; ++i) {
        const std::int64_t last = run.strokes.empty() ? 0 : run.strokes.back().tick;
        // 50 ms apart, with a 0..9 ms wobble so the marks and curve are not trivial.
        const auto wobble = static_cast<std::int64_t>(run.strokes.size() * 7919 % 10) * 44;
        run.strokes.push_back({last + kAudioTicksPerSecond / 20 + wobble, 0.5f, -1});
    }
    run.count = static_cast<std::int32_t>(run.strokes.size());
}

void BM_FollowLiveStep(benchmark::State& state)
{
    const bool paint = state.range(1) != 0;
    RunReportWindow window;
    window.resize(980, 660);
    window.show();
    RunRecord run;
    run.startUtcMs = 1;
    if (state.range(2) != 0)
        run.click = RunClick{300.0, 4, 4, 4, 0, static_cast<double>(kAudioTicksPerSecond) / 20, 0};
    addStrokes(run, static_cast<int>(state.range(0)));
    window.followLive(run);
    QImage target(window.size(), QImage::Format_RGB32);
    for (auto _ : state) {
        addStrokes(run, 2);
        window.followLive(run);
        if (paint)
            window.render(&target);
        benchmark::DoNotOptimize(target.constBits());
    }
}
BENCHMARK(BM_FollowLiveStep)
    ->ArgNames({"strokes", "paint", "click"})
    ->Args({200, 0, 0})
    ->Args({18000, 0, 0})
    ->Args({200, 1, 0})
    ->Args({18000, 1, 0})
    ->Args({200, 0, 1})
    ->Args({18000, 0, 1})
    ->Args({18000, 1, 1})
    ->Unit(benchmark::kMillisecond);

void BM_ShowFinishedRunOf18000(benchmark::State& state)
{
    RunReportWindow window;
    RunRecord run;
    run.startUtcMs = 1;
    addStrokes(run, 18000);
    for (auto _ : state)
        window.showRun(run);
}
BENCHMARK(BM_ShowFinishedRunOf18000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
