#include "audit/AttemptFlow.h"

void AttemptFlow::arm(bool onGo, std::uint32_t nowMs)
{
    m_phase = onGo ? Phase::Countdown : Phase::Armed;
    m_armedMs = nowMs;
    m_beat = 0;
}

void AttemptFlow::abort()
{
    if (!finished())
        m_phase = Phase::Done;
}

AttemptFlow::Event AttemptFlow::update(std::uint32_t nowMs, std::int32_t count, bool timeOver, bool delivering)
{
    if (m_phase == Phase::Idle || finished())
        return Event::None;
    if (!delivering) {
        m_phase = Phase::Lost;
        return Event::Lost;
    }
    switch (m_phase) {
    case Phase::Countdown: {
        if (count > 0) {
            m_phase = Phase::FalseStart;
            return Event::FalseStart;
        }
        // Differences of the wrapping tick, so a countdown across its wrap holds.
        const std::uint32_t since = nowMs - m_armedMs;
        if (since >= static_cast<std::uint32_t>(goMs())) {
            m_phase = Phase::Armed;
            return Event::Go;
        }
        const auto beat = static_cast<std::int32_t>(since / kBeatMs);
        if (beat > m_beat) {
            m_beat = beat;
            return Event::Beat;
        }
        return Event::None;
    }
    case Phase::Armed:
        if (count > 0) {
            m_phase = timeOver ? Phase::Done : Phase::Running;
            return timeOver ? Event::Ended : Event::Started;
        }
        return Event::None;
    case Phase::Running:
        if (timeOver) {
            m_phase = Phase::Done;
            return Event::Ended;
        }
        return Event::None;
    default:
        return Event::None;
    }
}
