#include "analysis/LatencyCalibration.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr double kQuietBeforeMs = 5.0;
// Below a hundredth of full scale nothing was heard, whatever its shape.
constexpr int kMinPeak = 328;

std::string millis(double ms)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", ms);
    return text;
}

// The onset of the click in recording[from, to), in samples from the
// recording's start, or empty when the stretch holds no clear click.
std::optional<double> onsetIn(const std::vector<std::int16_t>& recording, std::size_t from, std::size_t to,
                              std::size_t quietSamples)
{
    int peak = 0;
    for (std::size_t i = from; i < to; ++i)
        peak = std::max(peak, std::abs(static_cast<int>(recording[i])));
    if (peak < kMinPeak)
        return std::nullopt;
    const double half = peak / 2.0;
    std::size_t i = from;
    while (i < to && std::abs(static_cast<int>(recording[i])) < half)
        ++i;
    // Out of quiet: the stretch before the onset stays under a quarter of the peak.
    const std::size_t quietFrom = i >= quietSamples ? i - quietSamples : 0;
    for (std::size_t j = quietFrom; j < i; ++j)
        if (std::abs(static_cast<int>(recording[j])) >= peak / 4.0)
            return std::nullopt;
    if (i == 0)
        return 0.0;
    const double before = std::abs(static_cast<double>(recording[i - 1]));
    const double at = std::abs(static_cast<double>(recording[i]));
    return static_cast<double>(i - 1) + (half - before) / (at - before);
}

// The mean and population standard deviation of r.offsetsMs, and how many.
void summarize(CalibrationResult& r)
{
    r.heard = static_cast<std::int32_t>(r.offsetsMs.size());
    if (r.heard == 0)
        return;
    double sum = 0.0;
    for (const double o : r.offsetsMs)
        sum += o;
    const double mean = sum / r.heard;
    double squares = 0.0;
    for (const double o : r.offsetsMs)
        squares += (o - mean) * (o - mean);
    r.offsetMs = mean;
    r.spreadMs = std::sqrt(squares / r.heard);
}

} // namespace

ClickSegment calibrationSegment(std::int64_t startSample, float volume)
{
    ClickSegment seg;
    seg.pattern.tempoBpm = 120.0;
    seg.pattern.subdivision = 1;
    seg.pattern.beatsPerBar = 4;
    seg.pattern.accent = false;
    seg.pattern.countIn = false;
    seg.pattern.volume = volume;
    seg.startSample = startSample;
    seg.bars = kCalibrationClicks / 4;
    return seg;
}

CalibrationResult calibrateLatency(const std::vector<std::int16_t>& recording, std::int64_t firstSample,
                                   const std::vector<std::int64_t>& expectedSamples, double rate)
{
    CalibrationResult r;
    r.clicks = static_cast<std::int32_t>(expectedSamples.size());
    const auto maxLatency = static_cast<std::int64_t>(kMaxLatencyMs * rate / 1000.0);
    const auto earliest = static_cast<std::int64_t>(kEarliestMs * rate / 1000.0);
    const auto quiet = static_cast<std::size_t>(kQuietBeforeMs * rate / 1000.0);
    const auto length = static_cast<std::int64_t>(recording.size());
    for (std::size_t k = 0; k < expectedSamples.size(); ++k) {
        std::int64_t end = expectedSamples[k] + maxLatency;
        if (k + 1 < expectedSamples.size())
            end = std::min(end, expectedSamples[k + 1] + earliest);
        const std::int64_t from = std::clamp<std::int64_t>(expectedSamples[k] + earliest - firstSample, 0, length);
        const std::int64_t to = std::clamp<std::int64_t>(end - firstSample, 0, length);
        if (to <= from)
            continue;
        const auto onset = onsetIn(recording, static_cast<std::size_t>(from), static_cast<std::size_t>(to), quiet);
        if (!onset)
            continue;
        r.offsetsMs.push_back((*onset + static_cast<double>(firstSample - expectedSamples[k])) * 1000.0 / rate);
    }
    summarize(r);

    if (r.clicks == 0 || r.heard < r.clicks) {
        r.message = "Heard " + std::to_string(r.heard) + " of " + std::to_string(r.clicks) +
                    " clicks. Turn the click up or bring the microphone nearer the speaker, and try again.";
    } else if (*r.spreadMs > kMaxSpreadMs) {
        r.message = "The clicks came back with a spread of " + millis(*r.spreadMs) +
                    " ms, more than 1 ms: an offset from them would mistime every stroke. Use a loopback cable, "
                    "or keep the microphone still and away from walls, and try again.";
    } else {
        r.accepted = true;
        r.message = "Offset " + millis(*r.offsetMs) + " ms, spread " + millis(*r.spreadMs) + " ms over " +
                    std::to_string(r.clicks) + " clicks.";
    }
    return r;
}

CalibrationResult calibrateTaps(const std::vector<double>& tapTimesS, const std::vector<double>& clickTimesS)
{
    CalibrationResult r;
    const auto clicks = static_cast<std::int64_t>(clickTimesS.size());
    r.clicks = static_cast<std::int32_t>(std::max<std::int64_t>(0, clicks - kTapLockInClicks));
    for (std::int64_t k = kTapLockInClicks; k < clicks; ++k) {
        const auto at = static_cast<std::size_t>(k);
        const double click = clickTimesS[at];
        // Half the way to the nearer neighbour (there is one before: the
        // lock-in's): no tap can be two clicks'.
        double reachS = (click - clickTimesS[at - 1]) / 2.0;
        if (k + 1 < clicks)
            reachS = std::min(reachS, (clickTimesS[at + 1] - click) / 2.0);
        std::optional<double> nearest;
        for (const double tap : tapTimesS)
            if (std::abs(tap - click) < reachS && (!nearest || std::abs(tap - click) < std::abs(*nearest - click)))
                nearest = tap;
        if (nearest)
            r.offsetsMs.push_back((*nearest - click) * 1000.0);
    }
    summarize(r);

    const std::string counted = std::to_string(r.clicks);
    if (r.heard < std::min(kMinTaps, r.clicks) || r.heard == 0) {
        r.message = "Tapped along to " + std::to_string(r.heard) + " of the " + counted +
                    " clicks after the first bar. Tap once on every click (the first bar is for locking in), and "
                    "try again.";
    } else if (*r.spreadMs > kMaxTapSpreadMs) {
        r.message = "Your taps spread " + millis(*r.spreadMs) + " ms around the click, more than 10 ms: an offset " +
                    "from them could be " + millis(2.0 * *r.spreadMs / std::sqrt(static_cast<double>(r.heard))) +
                    " ms off. Tap again as evenly as you play, or for a precise offset calibrate an audio trigger "
                    "with a loopback cable.";
    } else {
        r.accepted = true;
        r.message = "Tapped offset " + millis(*r.offsetMs) + " ms, spread " + millis(*r.spreadMs) + " ms over " +
                    std::to_string(r.heard) + " taps.";
    }
    return r;
}
