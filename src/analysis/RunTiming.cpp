#include "analysis/RunTiming.h"

#include <vector>

RunClick placeClick(const ClickOnOutput& click, double deviceOffsetTicks, std::int64_t ticksPerSecond)
{
    const ClickPattern& p = click.segment.pattern;
    const auto tps = static_cast<double>(ticksPerSecond);
    // The grid's first point on the output stream, in seconds of its samples.
    const double outputS = click.segment.grid(click.rate).startS;
    RunClick c;
    c.tempoBpm = p.tempoBpm;
    c.subdivision = p.subdivision;
    c.beatsPerBar = p.beatsPerBar;
    c.barsOn = p.silent.barsOn;
    c.barsOff = p.silent.barsOff;
    c.latencyUs = click.latencyUs;
    const double monotonicS = outputS - click.streamOffsetFrames / click.rate;
    c.gridStartTick = deviceOffsetTicks + (monotonicS + static_cast<double>(click.latencyUs) * 1e-6) * tps;
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

std::optional<TimingAnalysis> analyzeRunTiming(const RunRecord& run)
{
    if (!run.click || run.ticksPerSecond <= 0)
        return std::nullopt;
    std::vector<double> times;
    times.reserve(run.strokes.size());
    // The same seconds tempovaro-count --grid takes from a recording.
    for (const StrokeEvent& s : run.strokes)
        times.push_back(static_cast<double>(s.tick) / static_cast<double>(run.ticksPerSecond));
    return analyzeTiming(times, runGrid(*run.click, run.ticksPerSecond));
}
