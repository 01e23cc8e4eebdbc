#include "analysis/TriggerCheck.h"

#include "trigger/QX_FastAudioTriggerDevice.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr double kFullScale = 32768.0;
constexpr std::size_t kMaxSamples = 12 * TriggerCheck::kSampleRate;
// A loud stroke should peak here: 6 dB of headroom for the player's hardest
// rimshot, and soft strokes 20 dB down still far over any room.
constexpr double kTargetPeakDb = -6.0;
// Samples this close to full scale count as clipping.
constexpr int kClipSample = 32700;
// A stroke is alone when the next comes 150 ms or more later: time for the
// decay to be measured before the next attack.
constexpr double kAloneMs = 150.0;
// The softest strokes should stand this far over the room.
constexpr double kSoftOverNoiseDb = 20.0;
// Past this pace the Fast detector's short refractory time matters.
constexpr double kFastPacePerSecond = 25.0;

double toDb(double amplitude)
{
    return 20.0 * std::log10(std::max(amplitude, 1e-6));
}

std::string format(const char* pattern, double a, double b = 0.0)
{
    char text[256];
    std::snprintf(text, sizeof text, pattern, a, b);
    return text;
}

double median(std::vector<double> v)
{
    if (v.empty())
        return 0.0;
    std::sort(v.begin(), v.end());
    const std::size_t m = v.size() / 2;
    return v.size() % 2 ? v[m] : 0.5 * (v[m - 1] + v[m]);
}

// The most strokes per second over any eight strokes in a row (or all, when fewer).
double fastestRate(const std::vector<double>& timesMs)
{
    if (timesMs.size() < 2)
        return 0.0;
    const std::size_t span = std::min<std::size_t>(8, timesMs.size());
    double best = 0.0;
    for (std::size_t i = 0; i + span <= timesMs.size(); ++i) {
        const double ms = timesMs[i + span - 1] - timesMs[i];
        if (ms > 0.0)
            best = std::max(best, 1000.0 * static_cast<double>(span - 1) / ms);
    }
    return best;
}

} // namespace

void TriggerCheck::addSamples(const std::int16_t* samples, std::size_t count)
{
    const std::size_t room = kMaxSamples - std::min(kMaxSamples, m_samples.size());
    m_samples.insert(m_samples.end(), samples, samples + std::min(count, room));
}

void TriggerCheck::addMidiStroke(std::int64_t tick100ns, int velocity)
{
    if (velocity > 0)
        m_midi.push_back({tick100ns, std::min(velocity, 127)});
}

TriggerCheckFigures TriggerCheck::figures() const
{
    if (!m_midi.empty())
        return midiFigures();
    if (!m_samples.empty())
        return audioFigures();
    TriggerCheckFigures f;
    f.verdicts.push_back("Nothing was played during the check.");
    return f;
}

TriggerCheckFigures TriggerCheck::audioFigures() const
{
    TriggerCheckFigures f;
    const std::size_t n = m_samples.size();

    // The noise floor: the quietest tenth of the 10 ms stretches.
    constexpr std::size_t kStretch = kSampleRate / 100;
    std::vector<double> stretches;
    for (std::size_t at = 0; at + kStretch <= n; at += kStretch) {
        double power = 0.0;
        for (std::size_t i = at; i < at + kStretch; ++i)
            power += static_cast<double>(m_samples[i]) * m_samples[i];
        stretches.push_back(std::sqrt(power / kStretch) / kFullScale);
    }
    if (!stretches.empty()) {
        std::sort(stretches.begin(), stretches.end());
        f.noiseFloorDb = toDb(stretches[stretches.size() / 10]);
    }

    // The strokes as the Fast detector counts them: a double trigger that
    // matters is one the detector counts, so the check sees what a run would.
    std::vector<std::int64_t> onsets;
    {
        TQX_FastAudioTriggerDevice detector("");
        detector.Start(-1);
        const auto take = [&onsets](const StrokeEvent& e) { onsets.push_back(e.tick); };
        constexpr std::size_t kBlock = 4096;
        for (std::size_t at = 0; at < n; at += kBlock) {
            const std::size_t count = std::min(kBlock, n - at);
            detector.AnalyzeSamples(m_samples.data() + at, static_cast<std::int32_t>(2 * count));
            detector.drainStrokeEvents(take);
        }
        detector.finishInput();
        detector.drainStrokeEvents(take);
    }
    f.strokes = static_cast<int>(onsets.size());
    if (onsets.empty()) {
        f.verdicts.push_back(format("No stroke stood out of the room noise (%.0f dBFS). Check that the microphone "
                                    "or trigger is connected and the input level is up.",
                                    f.noiseFloorDb));
        return f;
    }

    // Each stroke's peak over its first 10 ms (or up to the next stroke).
    std::vector<double> peaks;
    std::vector<double> timesMs;
    for (std::size_t k = 0; k < onsets.size(); ++k) {
        const auto from = static_cast<std::size_t>(onsets[k]);
        const std::size_t to = std::min({n, from + kSampleRate / 100,
                                         k + 1 < onsets.size() ? static_cast<std::size_t>(onsets[k + 1]) : n});
        int peak = 0;
        for (std::size_t i = from; i < to; ++i)
            peak = std::max(peak, std::abs(static_cast<int>(m_samples[i])));
        peaks.push_back(peak / kFullScale);
        timesMs.push_back(1000.0 * static_cast<double>(onsets[k]) / kSampleRate);
        f.clippedStrokes += peak >= kClipSample ? 1 : 0;
    }
    f.softestDb = toDb(*std::min_element(peaks.begin(), peaks.end()));
    f.loudestDb = toDb(*std::max_element(peaks.begin(), peaks.end()));
    f.headroomDb = -f.loudestDb;
    f.fastestPerSecond = fastestRate(timesMs);

    // Decay: how long a lone stroke's 5 ms level takes to fall 20 dB from its top.
    std::vector<double> decays;
    constexpr std::size_t kStep = kSampleRate / 200;
    for (std::size_t k = 0; k < onsets.size(); ++k) {
        const double gapMs = k + 1 < onsets.size() ? timesMs[k + 1] - timesMs[k] : 1e9;
        if (gapMs < kAloneMs)
            continue;
        const auto from = static_cast<std::size_t>(onsets[k]);
        const std::size_t to = std::min(n, from + static_cast<std::size_t>(gapMs * kSampleRate / 1000.0));
        double top = 0.0;
        for (std::size_t at = from; at + kStep <= to; at += kStep) {
            double power = 0.0;
            for (std::size_t i = at; i < at + kStep; ++i)
                power += static_cast<double>(m_samples[i]) * m_samples[i];
            top = std::max(top, power);
            if (power * 100.0 <= top) {
                decays.push_back(1000.0 * static_cast<double>(at + kStep - from) / kSampleRate);
                break;
            }
        }
    }
    f.decayMs = median(decays);

    // Suspected double triggers: a stroke under a tenth of both neighbours
    // within 60 ms of the one before (a ring's or an echo's burst), or an
    // interval under the refractory time the pace around it sets (0.45 of
    // the shorter of the intervals before and after, as the detector keeps).
    for (std::size_t k = 1; k < onsets.size(); ++k) {
        const bool quietBetween =
            peaks[k] < 0.1 * peaks[k - 1] && (k + 1 == onsets.size() || peaks[k] < 0.1 * peaks[k + 1]);
        const double gap = timesMs[k] - timesMs[k - 1];
        double around = 1e9;
        if (k >= 2)
            around = std::min(around, timesMs[k - 1] - timesMs[k - 2]);
        if (k + 1 < onsets.size())
            around = std::min(around, timesMs[k + 1] - timesMs[k]);
        if ((quietBetween && gap < 60.0) || (around < 1e9 && gap < 0.45 * around))
            ++f.suspectedDoubles;
    }

    // The recommendation: the loudest stroke near -6 dBFS.
    f.levelChangeDb = std::clamp(kTargetPeakDb - f.loudestDb, -30.0, 30.0);
    f.recommendFast = f.fastestPerSecond > kFastPacePerSecond || f.loudestDb - f.softestDb > 15.0;

    f.verdicts.push_back(format("Room noise: %.0f dBFS.", f.noiseFloorDb));
    f.verdicts.push_back(format("%.0f strokes, from %.0f dBFS (softest) ", static_cast<double>(f.strokes), f.softestDb)
                         + format("to %.0f dBFS (loudest): %.0f dB of headroom.", f.loudestDb, f.headroomDb));
    if (f.clippedStrokes > 0)
        f.verdicts.push_back(format("%.0f strokes reached full scale and were clipped.", static_cast<double>(f.clippedStrokes)));
    if (f.softestDb - f.noiseFloorDb < kSoftOverNoiseDb)
        f.verdicts.push_back(format("The softest strokes stand only %.0f dB over the room noise: bring the microphone "
                                    "closer to the drum.",
                                    f.softestDb - f.noiseFloorDb));
    if (f.decayMs > 0.0)
        f.verdicts.push_back(format("A stroke dies away 20 dB in %.0f ms", f.decayMs)
                             + (f.decayMs > 100.0 ? ": the drum rings; damping it helps at fast rolls." : "."));
    if (f.fastestPerSecond > 0.0)
        f.verdicts.push_back(format("Fastest roll: %.1f strokes per second.", f.fastestPerSecond));
    f.verdicts.push_back(f.suspectedDoubles > 0
                             ? format("%.0f strokes look like a second trigger of the stroke before (an echo or the "
                                      "drum's ring).",
                                      static_cast<double>(f.suspectedDoubles))
                             : std::string("No double triggers."));
    if (f.levelChangeDb >= 3.0)
        f.verdicts.push_back(format("Recommended: raise the input level by %.0f dB, so the loudest strokes peak "
                                    "near -6 dBFS.",
                                    f.levelChangeDb));
    else if (f.levelChangeDb <= -3.0)
        f.verdicts.push_back(format("Recommended: lower the input level by %.0f dB, so the loudest strokes peak "
                                    "near -6 dBFS.",
                                    -f.levelChangeDb));
    else
        f.verdicts.push_back("The input level is right.");
    f.verdicts.push_back(f.recommendFast ? "Detector: Fast (fast rolls or strokes of very different strength)."
                                         : "Detector: Standard.");
    return f;
}

TriggerCheckFigures TriggerCheck::midiFigures() const
{
    TriggerCheckFigures f;
    f.audio = false;
    f.strokes = static_cast<int>(m_midi.size());
    std::vector<double> timesMs;
    for (const auto& s : m_midi)
        timesMs.push_back(static_cast<double>(s.tick) / 10000.0);
    std::sort(timesMs.begin(), timesMs.end());
    f.fastestPerSecond = fastestRate(timesMs);
    f.verdicts.push_back(format("%.0f notes.", static_cast<double>(f.strokes)));
    if (timesMs.size() >= 2) {
        double shortest = 1e18;
        for (std::size_t k = 1; k < timesMs.size(); ++k)
            shortest = std::min(shortest, timesMs[k] - timesMs[k - 1]);
        f.maskMs = shortest;
        f.rateCapPerSecond = shortest > 0.0 ? 1000.0 / shortest : 0.0;
        if (shortest > 0.0)
            f.verdicts.push_back(format("The module sent two notes %.0f ms apart at the closest: a %.0f ms mask ",
                                        shortest, shortest)
                                 + format("allows at most %.0f strokes per second.", f.rateCapPerSecond));
        else
            f.verdicts.push_back("The module sent two notes at the same moment: a double trigger.");
    }
    if (f.fastestPerSecond > 0.0)
        f.verdicts.push_back(format("Fastest roll: %.1f strokes per second.", f.fastestPerSecond));
    return f;
}
