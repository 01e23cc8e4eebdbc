// The stroke detector's cost per sample on a drum recording, beside a plain C
// loop doing the same per-sample steps on local state (the floor for what the
// detector's structure costs).
//
//   bench_audio_trigger                         run the benchmarks and print the ratio
//   bench_audio_trigger --write-recording F S   write an S-second drum recording to F and exit
#include "DrumRecording.h"
#include "trigger/QX_AudioTriggerDevice.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// A minute of sixteenths on snare and toms with accents, over room noise.
drum::Samples makeRecording(int seconds)
{
    const char* kit = "The Black Pearl 1.0/";
    const auto snare = drum::loadHit(std::string(kit) + "PearlSnare-Med.wav");
    const auto tom = drum::loadHit(std::string(kit) + "PearlTom1-Med.wav");
    std::vector<drum::Stroke> snares, toms;
    for (int k = 0; 11025 + k * 7350 < seconds * 44100 - 22050; ++k)
        (k % 8 < 6 ? snares : toms).push_back({11025 + k * 7350, k % 4 == 0 ? 1.0f : 0.5f});
    return drum::Mix(seconds * 44100).add(snare, snares, 0.003f).add(tom.empty() ? snare : tom, toms).samples();
}

const drum::Samples& recording()
{
    static const drum::Samples samples = makeRecording(60);
    return samples;
}

void feedDevice(const drum::Samples& s, std::int32_t& count)
{
    TQX_AudioTriggerDevice device("");
    device.Start(-1);
    for (std::size_t at = 0; at < s.size(); at += 1764) {
        const std::size_t n = std::min<std::size_t>(1764, s.size() - at);
        device.AnalyzeSamples(s.data() + at, static_cast<std::int32_t>(n * 2));
    }
    count = device.GetCount();
}

// The same per-sample steps on plain locals: no atomics, no history ring
// object, strokes only counted.
struct PlainState {
    float x1a = 0, x2a = 0, y1a = 0, y2a = 0, x1b = 0, x2b = 0, y1b = 0, y2b = 0;
    float level = 0, sum = 0, peak = 0, rms = 0, prev = 0.0039f, floor = 0.0039f;
    int windowCount = 0, peakPos = 0, strokes = 0, history = 0;
    long long gap = 0;
    float levels[8] = {};
};

void plainLoop(const std::int16_t* s, std::size_t n, PlainState& st)
{
    const double b0 = 0.978634894f, b1 = -1.95726979f, b2 = b0, a1 = -1.95637548f, a2 = 0.958164036f;
    for (std::size_t i = 0; i < n; ++i) {
        const float x = static_cast<float>(s[i] / 32768.0);
        if (x > 0.99975)
            st.floor = 0.063f;
        else if (st.floor > 0.0039f)
            st.floor = static_cast<float>(st.floor - 3.3503401360544216e-7);
        const float ya = static_cast<float>(b0 * x + b1 * st.x1a + b2 * st.x2a - a1 * st.y1a - a2 * st.y2a);
        st.x2a = st.x1a, st.x1a = x, st.y2a = st.y1a, st.y1a = ya;
        const float yb = static_cast<float>(b0 * ya + b1 * st.x1b + b2 * st.x2b - a1 * st.y1b - a2 * st.y2b);
        st.x2b = st.x1b, st.x1b = ya, st.y2b = st.y1b, st.y1b = yb;
        const float r = std::fabs(yb);
        if (r > st.level)
            st.level = r;
        st.sum = static_cast<float>(static_cast<double>(st.sum) + static_cast<double>(r) * r);
        ++st.windowCount;
        if (r > st.peak) {
            st.peak = r;
            st.peakPos = st.windowCount;
        }
        if (++st.gap > 44100) {
            std::fill(std::begin(st.levels), std::end(st.levels), 0.0f);
            st.gap = 0;
        }
        if (st.windowCount == 441) {
            float rms = static_cast<float>(std::sqrt(static_cast<double>(st.sum) / 441));
            st.sum = 0;
            st.windowCount = 0;
            if (rms < st.floor)
                rms = st.floor;
            double levelSum = 0;
            for (float l : st.levels)
                if (l > 0)
                    levelSum += l;
            const bool levelOk = levelSum == 0 || rms / (levelSum / 8) > 0.35;
            if (rms > 1.4 * st.prev && st.gap > 1323 && levelOk) {
                ++st.strokes;
                st.levels[st.history] = rms;
                st.history = (st.history + 1) % 8;
                st.gap = 441 - st.peakPos;
            }
            st.peak = 0;
            st.peakPos = 0;
            st.prev = rms;
        }
    }
}

void feedPlain(const drum::Samples& s, std::int32_t& count)
{
    PlainState st;
    for (std::size_t at = 0; at < s.size(); at += 1764)
        plainLoop(s.data() + at, std::min<std::size_t>(1764, s.size() - at), st);
    count = st.strokes;
}

// Runs feed over the recording as often as the benchmark asks; reports the
// time per sample and the strokes the last run counted.
template <class Feed>
void feedRecording(benchmark::State& state, Feed feed)
{
    const auto& s = recording();
    std::int32_t count = 0;
    for (auto _ : state) {
        feed(s, count);
        benchmark::DoNotOptimize(count);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * s.size()));
    state.counters["ns_per_sample"] = benchmark::Counter(
        static_cast<double>(s.size()) * static_cast<double>(state.iterations()),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["strokes"] = count;
}

void BM_AnalyzeSamples(benchmark::State& state)
{
    feedRecording(state, feedDevice);
}
BENCHMARK(BM_AnalyzeSamples)->Unit(benchmark::kMillisecond);

void BM_PlainLoop(benchmark::State& state)
{
    feedRecording(state, feedPlain);
}
BENCHMARK(BM_PlainLoop)->Unit(benchmark::kMillisecond);

template <class Feed>
double bestSeconds(Feed feed)
{
    double best = 1e9;
    for (int round = 0; round < 7; ++round) {
        std::int32_t count = 0;
        const auto t0 = std::chrono::steady_clock::now();
        feed(recording(), count);
        benchmark::DoNotOptimize(count);
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--write-recording") == 0)
        return drum::writeWav(argv[2], makeRecording(std::atoi(argv[3]))) ? 0 : 1;
    if (!drum::kitsPresent()) {
        std::puts("bench_audio_trigger: hydrogen-drumkits is not installed");
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    const double device = bestSeconds(feedDevice);
    const double plain = bestSeconds(feedPlain);
    std::printf("detector %.2f ns/sample, plain C loop %.2f ns/sample, ratio %.2f (target <= 1.3)\n",
                device * 1e9 / recording().size(), plain * 1e9 / recording().size(), device / plain);
    return 0;
}
