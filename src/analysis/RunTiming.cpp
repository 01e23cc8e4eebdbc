#include "analysis/RunTiming.h"

#include <vector>

namespace {

RunClick clickSettings(const ClickOnOutput& click)
{
    const ClickPattern& p = click.segment.pattern;
    RunClick c;
    c.tempoBpm = p.tempoBpm;
    c.subdivision = p.subdivision;
    c.beatsPerBar = p.beatsPerBar;
    c.barsOn = p.silent.barsOn;
    c.barsOff = p.silent.barsOff;
    c.latencyUs = click.latencyUs;
    return c;
}

} // namespace

RunClick placeClick(const ClickOnOutput& click, double deviceOffsetTicks, std::int64_t ticksPerSecond)
{
    const auto tps = static_cast<double>(ticksPerSecond);
    // The grid's first point on the output stream, in seconds of its samples.
    const double outputS = click.segment.grid(click.rate).startS;
    RunClick c = clickSettings(click);
    const double monotonicS = outputS - click.streamOffsetFrames / click.rate;
    c.gridStartTick = deviceOffsetTicks + (monotonicS + static_cast<double>(click.latencyUs) * 1e-6) * tps;
    return c;
}

RunClick placeClick(const ClickOnOutput& click, const StrokeClock& clock)
{
    if (click.sharesInputClock || !click.line || !clock.line || clock.ticksPerSecond <= 0)
        return placeClick(click, clock.offsetTicks, clock.ticksPerSecond);
    const StreamLine& out = *click.line;
    const StreamLine& in = *clock.line;
    const auto tps = static_cast<double>(clock.ticksPerSecond);
    // Stroke ticks per output sample, as measured.
    const double ticksPerSample = in.rateHz / out.rateHz;
    // The grid's first point as an output sample (not rounded: the grid
    // holds every point within half a sample of the exact one).
    const double firstSample = click.segment.grid(click.rate).startS * click.rate;
    // Measured from where the output stood when the input's line is best
    // known, its centre: in.framesAt(out.timeOf(firstSample)), kept exact.
    const double fromCentre = firstSample - out.framesAt(in.originS);
    RunClick c = clickSettings(click);
    c.gridStartTick = in.framesAtOrigin + fromCentre * ticksPerSample + static_cast<double>(click.latencyUs) * 1e-6 * tps;
    c.clockPpm = (ticksPerSample * click.rate / tps - 1.0) * 1e6;
    return c;
}

TimingGrid runGrid(const RunClick& click, std::int64_t ticksPerSecond)
{
    TimingGrid g;
    g.tempoBpm = click.tempoBpm;
    g.subdivision = click.subdivision;
    g.beatsPerBar = click.beatsPerBar;
    g.silent = {click.barsOn, click.barsOff};
    g.startS = click.gridStartTick / static_cast<double>(ticksPerSecond);
    return g;
}

double gridSeconds(std::int64_t tick, const RunClick& click, std::int64_t ticksPerSecond)
{
    const auto tps = static_cast<double>(ticksPerSecond);
    if (click.clockPpm == 0.0)
        return static_cast<double>(tick) / tps;
    const double fromStart = static_cast<double>(tick) - click.gridStartTick;
    return click.gridStartTick / tps + fromStart / (tps * (1.0 + click.clockPpm * 1e-6));
}

std::optional<TimingAnalysis> analyzeRunTiming(const RunRecord& run)
{
    if (!run.click || run.ticksPerSecond <= 0)
        return std::nullopt;
    std::vector<double> times;
    times.reserve(run.strokes.size());
    // Without a clock difference, the same seconds tempovaro-count --grid
    // takes from a recording.
    for (const StrokeEvent& s : run.strokes)
        times.push_back(gridSeconds(s.tick, *run.click, run.ticksPerSecond));
    return analyzeTiming(times, runGrid(*run.click, run.ticksPerSecond));
}
