// How true the published stroke times are: for each recording of the
// detector corpus (and with --sweep the wider kit sweep), the mean and
// standard deviation of each detector's stroke events against the attacks'
// onsets, then the interval spread of perfectly even rolls on three kits.
// With --write DIR it also writes those even rolls (30 s) and ten snare
// strokes exactly 1.000 s apart as WAV files, for tempovaro-count.
//
//   bench_stroke_times [--sweep] [--write DIR]
#include "DrumCorpus.h"
#include "trigger/QX_AudioTriggerDevice.h"
#include "trigger/QX_FastAudioTriggerDevice.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

template <class Device>
std::vector<std::int64_t> strokeTicks(const drum::Samples& s)
{
    Device device("");
    device.Start(-1);
    std::vector<std::int64_t> ticks;
    const auto take = [&ticks](const StrokeEvent& e) { ticks.push_back(e.tick); };
    for (std::size_t at = 0; at < s.size(); at += 1764) {
        const std::size_t n = std::min<std::size_t>(1764, s.size() - at);
        device.AnalyzeSamples(s.data() + at, static_cast<std::int32_t>(n * 2));
        device.drainStrokeEvents(take);
    }
    device.finishInput();
    device.drainStrokeEvents(take);
    return ticks;
}

struct Spread {
    int matched = 0;
    double mean = 0;
    double sd = 0;
};

Spread spreadOf(const std::vector<double>& v)
{
    Spread s;
    s.matched = static_cast<int>(v.size());
    for (double x : v)
        s.mean += x / static_cast<double>(v.size());
    for (double x : v)
        s.sd += (x - s.mean) * (x - s.mean) / static_cast<double>(v.size());
    s.sd = std::sqrt(s.sd);
    return s;
}

// Each attack against the first event from 10 ms before it to 45 ms after, in ms.
Spread errorsAgainst(const std::vector<std::int64_t>& attacks, const std::vector<std::int64_t>& ticks)
{
    std::vector<double> errors;
    std::size_t j = 0;
    for (const std::int64_t a : attacks) {
        while (j < ticks.size() && ticks[j] < a - 441)
            ++j;
        if (j < ticks.size() && ticks[j] <= a + 1984)
            errors.push_back(static_cast<double>(ticks[j++] - a) / 44.1);
    }
    return spreadOf(errors);
}

double unevennessPercent(const std::vector<std::int64_t>& ticks)
{
    std::vector<double> intervals;
    for (std::size_t k = 1; k < ticks.size(); ++k)
        intervals.push_back(static_cast<double>(ticks[k] - ticks[k - 1]));
    const Spread s = spreadOf(intervals);
    return 100.0 * s.sd / s.mean;
}

} // namespace

int main(int argc, char** argv)
{
    bool sweep = false;
    std::string dir;
    std::string detail; // recordings whose name holds this: each stroke's error
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--sweep") == 0)
            sweep = true;
        else if (std::strcmp(argv[i], "--write") == 0 && i + 1 < argc)
            dir = argv[++i];
        else if (std::strcmp(argv[i], "--detail") == 0 && i + 1 < argc)
            detail = argv[++i];
    }
    if (!drum::kitsPresent()) {
        std::puts("hydrogen-drumkits is not installed");
        return 1;
    }
    std::printf("%-44s %5s | %-28s | %-28s\n", "recording", "n", "standard: found mean sd ms", "fast: found mean sd ms");
    for (const auto& r : sweep ? drum::kitSweep() : drum::detectorCorpus()) {
        if (r.attacks.empty())
            continue;
        const Spread s = errorsAgainst(r.attacks, strokeTicks<TQX_AudioTriggerDevice>(r.samples));
        const Spread f = errorsAgainst(r.attacks, strokeTicks<TQX_FastAudioTriggerDevice>(r.samples));
        std::printf("%-44s %5zu | %5d %+8.2f %8.2f      | %5d %+8.2f %8.2f\n", r.name.c_str(), r.attacks.size(),
                    s.matched, s.mean, s.sd, f.matched, f.mean, f.sd);
        if (!detail.empty() && r.name.find(detail) != std::string::npos) {
            const auto ticks = strokeTicks<TQX_FastAudioTriggerDevice>(r.samples);
            std::printf("  fast, ms from each attack:");
            std::size_t j = 0;
            for (const std::int64_t a : r.attacks) {
                while (j < ticks.size() && ticks[j] < a - 441)
                    ++j;
                if (j < ticks.size() && ticks[j] <= a + 1984)
                    std::printf(" %+.1f", static_cast<double>(ticks[j++] - a) / 44.1);
                else
                    std::printf(" miss");
            }
            std::printf("\n");
        }
    }
    std::puts("\neven rolls, 30 s: interval spread in % of the mean interval");
    for (const char* kit : {"The Black Pearl 1.0/PearlSnare-Med.wav",
                            "ColomboAcousticDrumkit/snare-opaque-normal-mic-normal_shot2.flac",
                            "Millo-Drums_v.1/snare1.flac"}) {
        const auto hit = drum::loadHit(kit);
        if (hit.empty())
            continue;
        for (const double perSecond : {8.0, 12.0, 16.0}) {
            const auto roll =
                drum::render(hit, drum::evenStrokes(11025, 44100 / perSecond, static_cast<int>(perSecond * 30)),
                             31 * 44100, 0.002f);
            const auto s = strokeTicks<TQX_AudioTriggerDevice>(roll);
            const auto f = strokeTicks<TQX_FastAudioTriggerDevice>(roll);
            std::printf("%-66s %2.0f/s: standard %zu strokes %.3f %%, fast %zu strokes %.3f %%\n", kit, perSecond,
                        s.size(), unevennessPercent(s), f.size(), unevennessPercent(f));
            if (!dir.empty()) {
                const std::string name = std::string(kit).substr(0, std::string(kit).find('/'));
                drum::writeWav(dir + "/even-" + name.substr(0, name.find(' ')) + "-" +
                                   std::to_string(static_cast<int>(perSecond)) + ".wav",
                               roll);
            }
        }
    }
    if (!dir.empty()) {
        const auto hit = drum::loadHit("The Black Pearl 1.0/PearlSnare-Med.wav");
        drum::writeWav(dir + "/one-second-apart.wav", drum::render(hit, drum::evenStrokes(22050, 44100, 10), 12 * 44100));
    }
    return 0;
}
