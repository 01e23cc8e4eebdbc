#include "analysis/TimingFigures.h"

#include <algorithm>
#include <cmath>

namespace {

// An offset of exactly 10 ms is within ±10 ms, whatever the last bit of the
// subtraction that made it says.
constexpr double kWithinSlackMs = 1e-6;
// A grid longer than this many points is a damaged end time, not a practice
// run (a day of thirty-seconds at 300 BPM is under 3.5 million).
constexpr std::int64_t kMaxGridPoints = 100'000'000;

struct Sample {
    double timeS;
    double offsetMs;
    std::int64_t group; // drift stretch
};

// Least-squares slope of offsetMs over timeS with one intercept per group;
// empty when no group spreads over time.
std::optional<double> slopePerSecond(std::vector<Sample> samples)
{
    std::stable_sort(samples.begin(), samples.end(), [](const Sample& a, const Sample& b) { return a.group < b.group; });
    double sxy = 0.0, sxx = 0.0;
    std::size_t from = 0;
    while (from < samples.size()) {
        std::size_t to = from;
        double meanT = 0.0, meanY = 0.0;
        while (to < samples.size() && samples[to].group == samples[from].group) {
            meanT += samples[to].timeS;
            meanY += samples[to].offsetMs;
            ++to;
        }
        const double n = static_cast<double>(to - from);
        meanT /= n;
        meanY /= n;
        for (std::size_t i = from; i < to; ++i) {
            const double dt = samples[i].timeS - meanT;
            sxx += dt * dt;
            sxy += dt * (samples[i].offsetMs - meanY);
        }
        from = to;
    }
    if (!(sxx > 1e-12))
        return std::nullopt;
    return sxy / sxx;
}

OffsetFigures offsetFigures(const std::vector<Sample>& timed, const std::vector<Sample>& driftSamples)
{
    OffsetFigures f;
    f.strokes = static_cast<std::int32_t>(timed.size());
    if (timed.empty())
        return f;
    double sum = 0.0;
    std::int32_t in10 = 0, in20 = 0;
    for (const auto& s : timed) {
        sum += s.offsetMs;
        in10 += std::abs(s.offsetMs) <= 10.0 + kWithinSlackMs ? 1 : 0;
        in20 += std::abs(s.offsetMs) <= 20.0 + kWithinSlackMs ? 1 : 0;
    }
    const double n = static_cast<double>(timed.size());
    const double mean = sum / n;
    double squares = 0.0;
    for (const auto& s : timed)
        squares += (s.offsetMs - mean) * (s.offsetMs - mean);
    f.meanMs = mean;
    if (timed.size() >= 2)
        f.sdMs = std::sqrt(squares / n);
    f.within10Percent = 100.0 * in10 / n;
    f.within20Percent = 100.0 * in20 / n;
    if (const auto slope = slopePerSecond(driftSamples))
        f.driftMsPerMinute = *slope * 60.0;
    return f;
}

bool validGrid(const TimingGrid& g)
{
    return std::isfinite(g.tempoBpm) && g.tempoBpm > 0.0 && g.subdivision >= 1 && g.beatsPerBar >= 1 &&
           std::isfinite(g.startS) && (!g.endS || std::isfinite(*g.endS)) && std::isfinite(g.stepS());
}

} // namespace

bool TimingGrid::isSilent(std::int64_t point) const
{
    if (silent.barsOff <= 0 || silent.barsOn < 0 || point < 0)
        return false;
    const std::int64_t bar = point / (static_cast<std::int64_t>(subdivision) * beatsPerBar);
    return bar % (static_cast<std::int64_t>(silent.barsOn) + silent.barsOff) >= silent.barsOn;
}

TimingAnalysis analyzeTiming(const std::vector<double>& strokeTimesS, const TimingGrid& grid)
{
    TimingAnalysis result;
    result.strokes.resize(strokeTimesS.size());
    for (std::size_t i = 0; i < strokeTimesS.size(); ++i) {
        result.strokes[i].timeS = strokeTimesS[i];
        result.strokes[i].hand = static_cast<std::uint8_t>(i % 2);
    }
    TimingFigures& f = result.figures;
    f.outsideStrokes = static_cast<std::int32_t>(strokeTimesS.size());
    if (!validGrid(grid))
        return result;

    const double step = grid.stepS();
    const auto pointNear = [&](double t) { return (t - grid.startS) / step; };
    double lastPosition = -1.0;
    if (grid.endS) {
        lastPosition = std::floor(pointNear(*grid.endS) + 1e-9);
    } else {
        for (const double t : strokeTimesS)
            if (std::isfinite(t))
                lastPosition = std::max(lastPosition, std::nearbyint(pointNear(t)));
    }
    lastPosition = std::min(lastPosition, static_cast<double>(kMaxGridPoints - 1));
    const std::int64_t lastPoint = lastPosition < 0.0 ? -1 : static_cast<std::int64_t>(lastPosition);
    f.gridPoints = static_cast<std::int32_t>(lastPoint + 1);

    // Each stroke to its nearest grid point; then per point the nearest stroke is timed.
    std::vector<std::size_t> candidates;
    for (std::size_t i = 0; i < strokeTimesS.size(); ++i) {
        const double x = pointNear(strokeTimesS[i]);
        if (!std::isfinite(x))
            continue;
        const double k = std::nearbyint(x);
        if (k < 0.0 || k > static_cast<double>(lastPoint))
            continue;
        StrokeTiming& s = result.strokes[i];
        s.point = static_cast<std::int64_t>(k);
        s.offsetMs = (strokeTimesS[i] - grid.timeOf(s.point)) * 1000.0;
        s.silent = grid.isSilent(s.point);
        s.fit = StrokeFit::Extra;
        candidates.push_back(i);
    }
    f.outsideStrokes -= static_cast<std::int32_t>(candidates.size());
    std::stable_sort(candidates.begin(), candidates.end(), [&](std::size_t a, std::size_t b) {
        return result.strokes[a].point < result.strokes[b].point;
    });
    std::int32_t matchedPoints = 0;
    for (std::size_t from = 0; from < candidates.size();) {
        std::size_t best = from, to = from;
        while (to < candidates.size() && result.strokes[candidates[to]].point == result.strokes[candidates[from]].point) {
            if (std::abs(result.strokes[candidates[to]].offsetMs) < std::abs(result.strokes[candidates[best]].offsetMs))
                best = to;
            ++to;
        }
        result.strokes[candidates[best]].fit = StrokeFit::Timed;
        ++matchedPoints;
        f.extraStrokes += static_cast<std::int32_t>(to - from - 1);
        from = to;
    }
    f.missedGridPoints = f.gridPoints - matchedPoints;

    // Timed strokes in time order, by hand, and the drift stretches.
    std::vector<Sample> all, handA, handB, silentAll, silentA, silentB;
    const std::int64_t pointsPerStretch = static_cast<std::int64_t>(grid.subdivision) * grid.beatsPerBar *
                                          (static_cast<std::int64_t>(grid.silent.barsOn) + grid.silent.barsOff);
    double sumK = 0.0, sumT = 0.0;
    for (const std::size_t i : candidates) {
        const StrokeTiming& s = result.strokes[i];
        if (s.fit != StrokeFit::Timed)
            continue;
        // Each hand keeps its own intercept in the drift of both together,
        // so hands that sit apart read as no drift, however many strokes.
        all.push_back({s.timeS, s.offsetMs, s.hand});
        (s.hand == 0 ? handA : handB).push_back({s.timeS, s.offsetMs, 0});
        if (s.silent) {
            const std::int64_t stretch = s.point / pointsPerStretch;
            silentAll.push_back({s.timeS, s.offsetMs, stretch * 2 + s.hand});
            (s.hand == 0 ? silentA : silentB).push_back({s.timeS, s.offsetMs, stretch});
        }
        sumK += static_cast<double>(s.point);
        sumT += s.timeS;
    }
    f.driftOverSilentBars = slopePerSecond(silentAll).has_value();
    f.all = offsetFigures(all, f.driftOverSilentBars ? silentAll : all);
    f.handA = offsetFigures(handA, f.driftOverSilentBars ? silentA : handA);
    f.handB = offsetFigures(handB, f.driftOverSilentBars ? silentB : handB);

    if (all.size() >= 2) {
        const double n = static_cast<double>(all.size());
        const double meanK = sumK / n, meanT = sumT / n;
        double skk = 0.0, skt = 0.0;
        for (const std::size_t i : candidates) {
            const StrokeTiming& s = result.strokes[i];
            if (s.fit != StrokeFit::Timed)
                continue;
            const double dk = static_cast<double>(s.point) - meanK;
            skk += dk * dk;
            skt += dk * (s.timeS - meanT);
        }
        if (skt > 0.0)
            f.playedTempoBpm = 60.0 * skk / (skt * grid.subdivision);
    }
    return result;
}

std::optional<double> percentWithin(const TimingAnalysis& analysis, double windowMs)
{
    std::int32_t timed = 0, within = 0;
    for (const auto& s : analysis.strokes) {
        if (s.fit != StrokeFit::Timed)
            continue;
        ++timed;
        within += std::abs(s.offsetMs) <= windowMs + kWithinSlackMs ? 1 : 0;
    }
    if (timed == 0)
        return std::nullopt;
    return 100.0 * within / timed;
}

std::vector<TimingRow> timingRows(const TimingFigures& f)
{
    return {
        {"mean_offset_ms", false, f.all.meanMs},
        {"offset_sd_ms", false, f.all.sdMs},
        {"within_10ms_percent", false, f.all.within10Percent},
        {"within_20ms_percent", false, f.all.within20Percent},
        {"played_tempo_bpm", false, f.playedTempoBpm},
        {"drift_ms_per_minute", false, f.all.driftMsPerMinute},
        {"hand_a_mean_offset_ms", false, f.handA.meanMs},
        {"hand_b_mean_offset_ms", false, f.handB.meanMs},
        {"missed_grid_points", true, static_cast<double>(f.missedGridPoints)},
        {"extra_strokes", true, static_cast<double>(f.extraStrokes)},
    };
}
