#include "session/RunTracker.h"

#include <utility>

RunTracker::RunTracker(WallClock nowUtcMs) : m_nowUtcMs(std::move(nowUtcMs)) {}

void RunTracker::arm(std::int32_t recordingTimeMs, const RunDevice& device, std::int64_t ticksPerSecond)
{
    m_run = RunRecord{};
    m_run.recordingTimeMs = recordingTimeMs;
    m_run.device = device;
    m_run.ticksPerSecond = ticksPerSecond;
    // A 60 s run at 40 strokes a second fits without a reallocation on the tick.
    m_run.strokes.reserve(2600);
    m_armed = true;
}

void RunTracker::disarm()
{
    m_armed = false;
    m_run.strokes.clear();
}

void RunTracker::setClick(const RunClick& click)
{
    if (m_armed)
        m_run.click = click;
}

void RunTracker::setDroppedEvents(std::uint64_t dropped)
{
    if (m_armed)
        m_run.droppedEvents = dropped;
}

std::optional<RunRecord> RunTracker::finish(std::int32_t count, bool record)
{
    return take(count, true, record ? RunResult::Record : RunResult::Finished);
}

std::optional<RunRecord> RunTracker::cutShort(std::int32_t count)
{
    return take(count, false, m_run.recordingTimeMs < 0 ? RunResult::Stopped : RunResult::CutShort);
}

std::optional<RunRecord> RunTracker::deviceLost(std::int32_t count)
{
    return take(count, false, RunResult::DeviceLost);
}

std::optional<RunRecord> RunTracker::take(std::int32_t count, bool ranToEnd, RunResult result)
{
    if (!m_armed)
        return std::nullopt;
    m_armed = false;
    // A device that counted strokes whose events were all lost still made a
    // run; it is kept with the count and without stroke times.
    if (m_run.strokes.empty() && count <= 0)
        return std::nullopt;
    if (m_run.strokes.empty())
        m_run.startUtcMs = m_nowUtcMs();
    RunRecord done = std::move(m_run);
    m_run = RunRecord{};
    done.count = count;
    done.ranToEnd = ranToEnd;
    done.result = result;
    return done;
}
