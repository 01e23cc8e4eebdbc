#pragma once
// RunTracker: the measurement session's notebook of the run in progress. The
// session arms it when a measurement is armed, hands it the stroke events it drains
// from the trigger device on each tick, and tells it how the run ended; the
// tracker turns that into the RunRecord the journal keeps and the run report
// shows.
//
// A run begins at its first stroke (an armed measurement nobody played is no
// run) and ends exactly once: finished when a timed run reaches its end; cut
// short (a timed run) or stopped (an endless one, whose normal end that is)
// when the measurement is re-armed, the device changes or the program
// closes; device lost when the trigger device stops delivering.
//
// Threads: user-interface thread only. Time: the wall clock is injected
// (milliseconds since 1970 UTC) and read once per run, at its first stroke.

#include "analysis/RunRecord.h"

#include <cstdint>
#include <functional>
#include <optional>

class RunTracker {
public:
    using WallClock = std::function<std::int64_t()>;

    explicit RunTracker(WallClock nowUtcMs);

    // A new measurement; whatever was in progress is forgotten (call cutShort
    // first to keep it).
    void arm(std::int32_t recordingTimeMs, const RunDevice& device, std::int64_t ticksPerSecond);
    // Stops collecting: strokes after this belong to no run (the device that
    // keeps listening after a finished run).
    void disarm();

    // On every tick with strokes: kept inline, it is the whole cost the
    // notebook adds to the tick.
    void addStroke(const StrokeEvent& event)
    {
        if (!m_armed)
            return;
        if (m_run.strokes.empty())
            m_run.startUtcMs = m_nowUtcMs();
        m_run.strokes.push_back(event);
    }
    // Events the device counted but could not hand over (its ring was full).
    void setDroppedEvents(std::uint64_t dropped);
    // The click the run is played against, placed on its stroke clock; a
    // newer placement (a better clock estimate, a click restarted with other
    // settings) replaces the one before. Ignored while disarmed.
    void setClick(const RunClick& click);

    bool armed() const { return m_armed; }
    bool inProgress() const { return m_armed && !m_run.strokes.empty(); }
    const RunRecord& current() const { return m_run; }

    // The run reached its recording time: a finished run (or a record) with
    // the count the window shows. Nothing when no stroke was counted.
    std::optional<RunRecord> finish(std::int32_t count, bool record);
    // A timed run stops before its end, or an endless run stops. Nothing when
    // no stroke was counted.
    std::optional<RunRecord> cutShort(std::int32_t count);
    // The device stopped delivering: the run keeps its strokes, never a score.
    std::optional<RunRecord> deviceLost(std::int32_t count);

private:
    std::optional<RunRecord> take(std::int32_t count, bool ranToEnd, RunResult result);

    WallClock m_nowUtcMs;
    RunRecord m_run;
    bool m_armed = false;
};
