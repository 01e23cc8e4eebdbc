// The two audio detectors side by side: the F-measure table of Standard, Fast
// and aubio's `aubioonset` on the detector corpus, then each detector's cost
// per sample on the same minute of drumming. aubioonset runs with its
// defaults except the silence gate (-s -120): at its default of -90 dB it
// drops every stroke of the pad recordings, whose gaps are digital silence.
//
//   bench_fast_detector            print the table, then run the benchmarks
//   bench_fast_detector --table    print the table only
//   bench_fast_detector --sweep    Standard and Fast on drum::kitSweep(), rows
//                                  where Fast is more than 0.01 behind marked <<<
#include "AudioFeed.h"
#include "DrumCorpus.h"
#include "QX_AudioTriggerDevice.h"
#include "QX_FastAudioTriggerDevice.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

std::vector<std::int64_t> standardDetections(const drum::Samples& s)
{
    TQX_AudioTriggerDevice device("");
    device.Start(-1);
    std::vector<std::int64_t> times;
    // Fed by windows, the count moment is the end of the window that counted.
    for (const auto& stroke : feedInBlocks(device, s, 441))
        times.push_back(stroke.fedSamples);
    return times;
}

std::vector<std::int64_t> fastDetections(const drum::Samples& s)
{
    TQX_FastAudioTriggerDevice device("");
    device.Start(-1);
    std::vector<std::int64_t> times;
    for (std::size_t at = 0; at < s.size(); at += 1764) {
        const std::size_t n = std::min<std::size_t>(1764, s.size() - at);
        const std::int32_t before = device.GetCount();
        device.AnalyzeSamples(s.data() + at, static_cast<std::int32_t>(n * 2));
        for (std::int32_t back = device.GetCount() - before - 1; back >= 0; --back)
            times.push_back(device.recentOnset(back).onsetSample);
    }
    return times;
}

// aubioonset's onsets in samples; ok is false when it cannot run.
std::vector<std::int64_t> aubioDetections(const drum::Samples& s, bool& ok)
{
    const auto dir = std::filesystem::temp_directory_path();
    const std::string wav = (dir / ("tempovaro-bench-" + std::to_string(getpid()) + ".wav")).string();
    std::vector<std::int64_t> times;
    ok = drum::writeWav(wav, s);
    if (!ok)
        return times;
    const std::string command = "aubioonset -s -120 -i '" + wav + "' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    ok = pipe != nullptr;
    if (pipe) {
        double seconds = 0.0;
        while (std::fscanf(pipe, "%lf", &seconds) == 1)
            times.push_back(static_cast<std::int64_t>(seconds * drum::kRate + 0.5));
        ok = pclose(pipe) == 0;
    }
    std::filesystem::remove(wav);
    return times;
}

void printTable()
{
    std::printf("| recording | strokes | Standard F | Fast F (P / R) | aubioonset F |\n");
    std::printf("|---|---:|---:|---:|---:|\n");
    for (const auto& r : drum::detectorCorpus()) {
        const auto standard = drum::scoreDetections(r.attacks, standardDetections(r.samples));
        const auto fast = drum::scoreDetections(r.attacks, fastDetections(r.samples));
        bool aubioOk = false;
        const auto aubio = drum::scoreDetections(r.attacks, aubioDetections(r.samples, aubioOk));
        char aubioText[32] = "n/a";
        if (aubioOk)
            std::snprintf(aubioText, sizeof aubioText, "%.3f", aubio.fMeasure());
        std::printf("| %s | %d | %.3f | %.3f (%.3f / %.3f) | %s |\n", r.name.c_str(), static_cast<int>(r.attacks.size()),
                    standard.fMeasure(), fast.fMeasure(), fast.precision(), fast.recall(), aubioText);
    }
    std::fflush(stdout);
}

void printSweep()
{
    int behind = 0;
    double fastSum = 0.0, standardSum = 0.0;
    const auto sweep = drum::kitSweep();
    for (const auto& r : sweep) {
        const auto standard = drum::scoreDetections(r.attacks, standardDetections(r.samples));
        const auto fast = drum::scoreDetections(r.attacks, fastDetections(r.samples));
        const bool worse = fast.fMeasure() < standard.fMeasure() - 0.01;
        behind += worse ? 1 : 0;
        fastSum += fast.fMeasure();
        standardSum += standard.fMeasure();
        std::printf("%-75s Standard %.3f  Fast %.3f (%.3f / %.3f)%s\n", r.name.c_str(), standard.fMeasure(),
                    fast.fMeasure(), fast.precision(), fast.recall(), worse ? "  <<<" : "");
    }
    std::printf("%zu recordings: mean F Standard %.4f, Fast %.4f; Fast more than 0.01 behind on %d\n", sweep.size(),
                standardSum / static_cast<double>(sweep.size()), fastSum / static_cast<double>(sweep.size()), behind);
}

const drum::Samples& minute()
{
    static const drum::Samples samples = [] {
        drum::Samples all;
        for (const auto& r : {drum::padStrokes(30, 20), drum::snareStrokes(20, 19), drum::noisyRoom(),
                              drum::accentsAndGhosts(), drum::floorTom()})
            all.insert(all.end(), r.samples.begin(), r.samples.end());
        all.resize(60 * drum::kRate);
        return all;
    }();
    return samples;
}

template <class Device>
void runDetector(benchmark::State& state)
{
    const auto& s = minute();
    for (auto _ : state) {
        Device device("");
        device.Start(-1);
        for (std::size_t at = 0; at < s.size(); at += 1764) {
            const std::size_t n = std::min<std::size_t>(1764, s.size() - at);
            device.AnalyzeSamples(s.data() + at, static_cast<std::int32_t>(n * 2));
        }
        benchmark::DoNotOptimize(device.GetCount());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(s.size()));
    // Seconds of audio per second of work, for the "times real time" figure.
    state.counters["realtime_x"] = benchmark::Counter(static_cast<double>(s.size()) / drum::kRate,
                                                      benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(runDetector<TQX_AudioTriggerDevice>)->Name("Standard")->Unit(benchmark::kMillisecond);
BENCHMARK(runDetector<TQX_FastAudioTriggerDevice>)->Name("Fast")->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    if (!drum::kitsPresent()) {
        std::fprintf(stderr, "hydrogen-drumkits is not installed\n");
        return 1;
    }
    if (argc > 1 && std::strcmp(argv[1], "--sweep") == 0) {
        printSweep();
        return 0;
    }
    printTable();
    if (argc > 1 && std::strcmp(argv[1], "--table") == 0)
        return 0;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
