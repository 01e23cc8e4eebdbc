#include "trigger/StrikeFlux.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

// The octave bands' centres: from over a tom's and a snare's body (their
// lowest partials lie at 100 to 400 Hz) up to the stick's click.
constexpr std::array<double, StrikeFlux::kBands> kCentresHz{500.0, 1000.0, 2000.0, 4000.0, 8000.0, 16000.0};
// An octave wide.
constexpr double kBandQ = 1.414;
constexpr double kSmoothSeconds = 0.001;
// -70 dBFS per band: dither and the quietest room do not rise out of it.
constexpr double kFloorPower = 1e-7;
// No band's rise counts more than 12 dB: one band leaping out of the room
// (a voice's formant, a hum's harmonic) must not look like a strike in all.
constexpr float kBandCap = 12.0f;

} // namespace

void StrikeFlux::reset(int sampleRate)
{
    m_b0.fill(0.0f);
    m_a1.fill(0.0f);
    m_a2.fill(0.0f);
    m_s1.fill(0.0f);
    m_s2.fill(0.0f);
    m_power.fill(0.0f);
    for (int b = 0; b < kBands; ++b) {
        const double w0 = 2.0 * std::numbers::pi * std::min(kCentresHz[b], 0.45 * sampleRate) / sampleRate;
        const double alpha = std::sin(w0) / (2.0 * kBandQ);
        const double a0 = 1.0 + alpha;
        // Band-pass, 0 dB at the centre: b0 = alpha, b1 = 0, b2 = -alpha.
        m_b0[b] = static_cast<float>(alpha / a0);
        m_a1[b] = static_cast<float>(-2.0 * std::cos(w0) / a0);
        m_a2[b] = static_cast<float>((1.0 - alpha) / a0);
        m_levels[b].fill(10.0f * static_cast<float>(std::log10(kFloorPower)));
    }
    m_smooth = static_cast<float>(1.0 - std::exp(-1.0 / (kSmoothSeconds * sampleRate)));
    m_frame = 0;
    m_inHop = 0;
    m_flux = 0;
}

bool StrikeFlux::push(float x)
{
    for (int b = 0; b < kLanes; ++b) {
        const float y = m_b0[b] * x + m_s1[b];
        m_s1[b] = m_s2[b] - m_a1[b] * y;
        m_s2[b] = -m_b0[b] * x - m_a2[b] * y;
        m_power[b] += m_smooth * (y * y - m_power[b]);
    }
    if (++m_inHop < kHopSamples)
        return false;
    m_inHop = 0;

    const auto slot = static_cast<std::size_t>(m_frame % kHistoryFrames);
    float sum = 0.0f;
    for (int b = 0; b < kBands; ++b) {
        const float level = 10.0f * std::log10(m_power[b] + static_cast<float>(kFloorPower));
        auto& history = m_levels[b];
        // The slot about to be written holds frame t-8; the one before it t-1, left out.
        const auto previous = static_cast<std::size_t>((m_frame + kHistoryFrames - 1) % kHistoryFrames);
        float before = -1e9f;
        for (std::size_t f = 0; f < history.size(); ++f)
            if (f != previous)
                before = std::max(before, history[f]);
        const float rise = std::clamp(level - before, 0.0f, kBandCap);
        sum += rise;
        history[slot] = level;
    }
    ++m_frame;
    m_flux = sum;
    return true;
}
