#include "analysis/SpeedBuilder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// The click's range.
constexpr double kMinBpm = 30.0;
constexpr double kMaxBpm = 300.0;
// Tempi this close are the same tempo (a step of 0.1 BPM added up ten times).
constexpr double kSameBpm = 1e-6;

double clampBpm(double bpm)
{
    return std::isfinite(bpm) ? std::clamp(bpm, kMinBpm, kMaxBpm) : kMinBpm;
}

std::string countText(std::int32_t n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

} // namespace

std::string tempoText(double bpm)
{
    char text[32];
    const double tenths = std::nearbyint(bpm * 10.0);
    std::snprintf(text, sizeof text, std::fmod(tenths, 10.0) == 0.0 ? "%.0f" : "%.1f", tenths / 10.0);
    return text;
}

SpeedBuilder::SpeedBuilder(const SpeedPlan& plan) : m_plan(plan)
{
    m_plan.startBpm = clampBpm(m_plan.startBpm);
    m_plan.targetBpm = std::max(clampBpm(m_plan.targetBpm), m_plan.startBpm);
    m_plan.stepBpm = std::isfinite(m_plan.stepBpm) ? std::max(m_plan.stepBpm, 0.0) : 0.0;
    m_plan.barsPerRepetition = std::max(m_plan.barsPerRepetition, 1);
    m_plan.beatsPerBar = std::max(m_plan.beatsPerBar, 1);
    m_plan.subdivision = std::max(m_plan.subdivision, 1);
    m_current = repetitionAt(1, m_plan.startBpm, 0.0);
}

double SpeedBuilder::barSeconds(double tempoBpm) const
{
    return 60.0 / tempoBpm * m_plan.beatsPerBar;
}

Repetition SpeedBuilder::repetitionAt(std::int32_t number, double tempoBpm, double countInStartS) const
{
    Repetition r;
    r.number = number;
    r.tempoBpm = tempoBpm;
    r.countInStartS = countInStartS;
    r.gridStartS = countInStartS + barSeconds(tempoBpm);
    r.gridEndS = r.gridStartS + barSeconds(tempoBpm) * m_plan.barsPerRepetition;
    return r;
}

TimingGrid SpeedBuilder::gridOf(const Repetition& repetition) const
{
    TimingGrid g;
    g.tempoBpm = repetition.tempoBpm;
    g.subdivision = m_plan.subdivision;
    g.beatsPerBar = m_plan.beatsPerBar;
    g.startS = repetition.gridStartS;
    // The last point is one step before the end; its strokes reach half a step past it.
    g.endS = repetition.gridEndS - g.stepS() / 2.0;
    g.silent = m_plan.silent;
    return g;
}

void SpeedBuilder::start(double countInStartS)
{
    m_started = true;
    m_finished = false;
    m_results.clear();
    m_strokes.clear();
    m_highestClean.reset();
    m_current = repetitionAt(1, m_plan.startBpm, countInStartS);
}

void SpeedBuilder::addStroke(double timeS)
{
    if (!m_started || m_finished || !std::isfinite(timeS))
        return;
    // The count-in is not timed; a stroke half a step before the first point still is.
    if (timeS < m_current.gridStartS - gridOf(m_current).stepS() / 2.0)
        return;
    m_strokes.push_back(timeS);
}

bool SpeedBuilder::advance(double nowS)
{
    if (!m_started || m_finished)
        return false;
    const TimingGrid grid = gridOf(m_current);
    if (nowS < *grid.endS)
        return false;
    judge(nowS);
    return true;
}

void SpeedBuilder::judge(double nowS)
{
    const TimingAnalysis analysis = analyzeTiming(m_strokes, gridOf(m_current));
    RepetitionResult r;
    r.repetition = m_current;
    r.withinPercent = percentWithin(analysis, m_plan.rule.windowMs);
    r.timedStrokes = analysis.figures.all.strokes;
    r.extraStrokes = analysis.figures.extraStrokes;
    r.missedPoints = analysis.figures.missedGridPoints;
    r.passed = r.withinPercent && *r.withinPercent >= m_plan.rule.minWithinPercent - 1e-9 &&
               r.extraStrokes <= m_plan.rule.maxExtraStrokes && r.missedPoints <= m_plan.rule.maxMissedPoints;

    const double tempo = m_current.tempoBpm;
    if (r.passed) {
        m_highestClean = std::max(m_highestClean.value_or(0.0), tempo);
        r.nextBpm = std::min(tempo + m_plan.stepBpm, m_plan.targetBpm);
        m_finished = tempo >= m_plan.targetBpm - kSameBpm;
    } else {
        r.nextBpm = std::max(tempo - m_plan.stepBpm, m_plan.startBpm);
    }
    m_results.push_back(r);
    m_strokes.clear();
    if (m_finished)
        return;
    const double rest = std::max(60.0 / tempo, kMinRestS);
    const double countIn = std::max(m_current.gridEndS + rest, nowS + kScheduleLeadS);
    m_current = repetitionAt(m_current.number + 1, r.nextBpm, countIn);
}

std::string SpeedBuilder::status(double nowS) const
{
    if (!m_started)
        return "Ready: " + tempoText(m_current.tempoBpm) + " BPM";
    if (m_finished)
        return "Target reached: " + tempoText(m_results.back().repetition.tempoBpm) + " BPM";
    if (nowS >= m_current.gridStartS) {
        const auto bar = static_cast<std::int32_t>(std::floor((nowS - m_current.gridStartS) / barSeconds(m_current.tempoBpm)));
        return "Playing: " + tempoText(m_current.tempoBpm) + " BPM, bar " +
               std::to_string(std::clamp(bar + 1, 1, m_plan.barsPerRepetition)) + " of " +
               std::to_string(m_plan.barsPerRepetition);
    }
    if (m_results.empty())
        return "Count-in: " + tempoText(m_current.tempoBpm) + " BPM";

    const RepetitionResult& last = m_results.back();
    std::string text = (last.passed ? "Pass: " : "Fail: ") + tempoText(last.repetition.tempoBpm) + " BPM";
    if (!last.passed) {
        if (!last.withinPercent) {
            text += ", no strokes";
        } else {
            if (*last.withinPercent < m_plan.rule.minWithinPercent - 1e-9)
                text += ", " + std::to_string(static_cast<int>(std::floor(*last.withinPercent))) + " % within ±" +
                        tempoText(m_plan.rule.windowMs) + " ms";
            if (last.missedPoints > m_plan.rule.maxMissedPoints)
                text += ", " + std::to_string(last.missedPoints) + " missed";
            if (last.extraStrokes > m_plan.rule.maxExtraStrokes)
                text += ", " + countText(last.extraStrokes, "extra stroke", "extra strokes");
        }
    }
    return text + ", next " + tempoText(last.nextBpm);
}
