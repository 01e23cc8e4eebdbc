#include "journal/JournalSummary.h"

#include "analysis/RunFigures.h"
#include "analysis/RunTiming.h"

RunSummary summarizeRun(const RunRecord& run)
{
    RunSummary summary;
    if (run.strokes.empty()) {
        // A run kept without stroke times (a score brought in from the score
        // list): its rate is the count over the recording time.
        if (run.recordingTimeMs > 0 && run.count > 0)
            summary.strokesPerMinute = 60000.0 * run.count / run.recordingTimeMs;
        return summary;
    }
    const RunFigures figures = analyzeRun(run).figures;
    summary.strokesPerMinute = figures.strokesPerMinute;
    summary.evennessCvPercent = figures.evennessCvPercent;
    summary.fatiguePercent = figures.fatiguePercent;
    if (const std::optional<TimingAnalysis> timing = analyzeRunTiming(run)) {
        summary.meanOffsetMs = timing->figures.all.meanMs;
        summary.within10Percent = timing->figures.all.within10Percent;
    }
    return summary;
}
