#include "StrokeCounter.h"

#include "QX_Clock.h"

namespace {
const StrokeCounter* g_clockCounter = nullptr;
// The tick is never 0 at a stroke (0 means "no stroke yet" to the device).
constexpr std::uint32_t kClockBaseMs = 1000;

std::uint32_t sampleTick()
{
    return SampleClock::msAt(g_clockCounter ? g_clockCounter->fedShared() : 0);
}
} // namespace

StrokeCounter::StrokeCounter(std::int32_t timeLimitMs, bool fastDetector) : m_timeLimitMs(timeLimitMs)
{
    if (fastDetector) {
        m_fast = std::make_unique<TQX_FastAudioTriggerDevice>("");
        m_fast->Start(timeLimitMs);
    } else {
        m_device.Start(timeLimitMs);
    }
}

CountSummary StrokeCounter::summaryBySamples() const
{
    if (m_firstStrokeEnd < 0)
        return {};
    std::int64_t elapsedMs = SampleClock::msAt(m_fed) - SampleClock::msAt(m_firstStrokeEnd);
    if (m_timeLimitMs >= 0 && elapsedMs > m_timeLimitMs)
        elapsedMs = m_timeLimitMs;
    return makeSummary(device().GetCount(), elapsedMs);
}

CountSummary makeSummary(std::int32_t strokes, std::int64_t elapsedMs)
{
    CountSummary summary;
    summary.strokes = strokes;
    summary.seconds = static_cast<double>(elapsedMs) / 1000.0;
    summary.strokesPerMinute = summary.seconds > 0.0 ? strokes * 60.0 / summary.seconds : 0.0;
    return summary;
}

SampleClock::SampleClock(const StrokeCounter& counter)
{
    g_clockCounter = &counter;
    setTickSource(&sampleTick);
}

SampleClock::~SampleClock()
{
    setTickSource(nullptr);
    g_clockCounter = nullptr;
}

std::uint32_t SampleClock::msAt(std::int64_t fedSamples)
{
    return kClockBaseMs + static_cast<std::uint32_t>(fedSamples * 10 / 441);
}
