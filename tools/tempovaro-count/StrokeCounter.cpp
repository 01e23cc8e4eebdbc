#include "StrokeCounter.h"

#include "analysis/RunFigures.h"
#include "trigger/QX_AudioTriggerDevice.h"
#include "trigger/QX_FastAudioTriggerDevice.h"

StrokeCounter::StrokeCounter(std::int32_t timeLimitMs, bool fastDetector) : m_rowAtOnset(fastDetector)
{
    if (fastDetector)
        m_device = std::make_unique<TQX_FastAudioTriggerDevice>("");
    else
        m_device = std::make_unique<TQX_AudioTriggerDevice>("");
    m_device->Start(timeLimitMs);
}

CountSummary countSummary(std::int32_t count, const RunRecord& run)
{
    const RunFigures figures = analyzeRun(run).figures;
    CountSummary summary;
    summary.strokes = count;
    summary.seconds = figures.seconds.value_or(0.0);
    summary.strokesPerMinute = figures.strokesPerMinute.value_or(0.0);
    return summary;
}
