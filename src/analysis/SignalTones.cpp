#include "analysis/SignalTones.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr unsigned kRate = 44100;

} // namespace

std::vector<std::int16_t> toneSignal(const std::vector<Tone>& tones, float gain)
{
    std::int64_t endMs = 0;
    for (const Tone& t : tones)
        endMs = std::max<std::int64_t>(endMs, t.startMs + t.lengthMs);
    std::vector<float> mix(static_cast<std::size_t>(endMs * kRate / 1000), 0.0f);
    const double ramp = 0.005 * kRate;
    for (const Tone& t : tones) {
        const auto first = static_cast<std::size_t>(static_cast<std::int64_t>(t.startMs) * kRate / 1000);
        const auto length = static_cast<std::size_t>(static_cast<std::int64_t>(t.lengthMs) * kRate / 1000);
        const double fall = t.swell ? 0.003 * kRate : ramp;
        for (std::size_t i = 0; i < length && first + i < mix.size(); ++i) {
            const double x = static_cast<double>(i);
            const double rise = t.swell ? std::pow(10.0, -4.8 * (1.0 - x / static_cast<double>(length))) : x / ramp;
            const double edge = std::min({1.0, rise, static_cast<double>(length - i) / fall});
            mix[first + i] += static_cast<float>(edge * std::sin(2.0 * M_PI * t.hz * i / kRate));
        }
    }
    std::vector<std::int16_t> out(mix.size());
    for (std::size_t i = 0; i < mix.size(); ++i)
        out[i] = static_cast<std::int16_t>(std::lround(std::clamp(mix[i] * gain, -1.0f, 1.0f) * 32767.0f));
    return out;
}

std::vector<std::int16_t> countdownSignal(int beats, int beatMs)
{
    // 900 ms from -96 dB: 1.1 dB per 10 ms, slower than either detector's
    // idea of an attack, from below the 16-bit floor so no step shows.
    constexpr std::int32_t kSwellMs = 900;
    std::vector<Tone> tones;
    for (int beat = 1; beat <= beats + 1; ++beat)
        tones.push_back(Tone{beat * beatMs - kSwellMs, kSwellMs, beat > beats ? 1760.0 : 880.0, true});
    return toneSignal(tones);
}
