#include "journal/JournalImport.h"

#include <QDateTime>

#include <algorithm>
#include <bit>
#include <cmath>
#include <map>

std::int64_t scoreDateToUtcMs(double date, const QTimeZone& zone)
{
    static const QDate epoch(1899, 12, 30);
    // Before the epoch the whole days count down while the time of day
    // still counts up (-1.25 is 29 December 1899 06:00).
    const double whole = std::trunc(date);
    const double fraction = std::fabs(date - whole);
    const auto msOfDay = std::clamp<std::int64_t>(std::llround(fraction * 86400000.0), 0, 86399999);
    const QDate day = epoch.addDays(static_cast<qint64>(whole));
    QDateTime local(day, QTime::fromMSecsSinceStartOfDay(static_cast<int>(msOfDay)), zone);
    // A time inside a spring-forward gap never happened on a wall clock;
    // the score was taken just after the change.
    if (!local.isValid())
        local = QDateTime(day, QTime::fromMSecsSinceStartOfDay(static_cast<int>(msOfDay)).addSecs(3600), zone);
    return local.toMSecsSinceEpoch();
}

ImportedRun importedRunFromScore(const TQX_Score& score, const QTimeZone& zone)
{
    ImportedRun imported;
    // The score's own bytes make the key: the same score read again from the
    // same or a re-sorted file gives the same key.
    imported.key = QStringLiteral("score:%1:%2:%3")
                       .arg(score.Seconds)
                       .arg(score.Strokes)
                       .arg(std::bit_cast<quint64>(score.Date), 16, 16, QLatin1Char('0'));
    RunRecord& run = imported.run;
    run.recordingTimeMs = score.Seconds * 1000;
    // The score was taken when the recording time ran out.
    run.startUtcMs = scoreDateToUtcMs(score.Date, zone) - run.recordingTimeMs;
    run.ranToEnd = true;
    run.count = score.Strokes;
    run.result = RunResult::Finished;
    if (score.Seconds > 0)
        imported.summary.strokesPerMinute = score.Strokes * 60.0 / score.Seconds;
    return imported;
}

std::optional<std::vector<TQX_Score>> readScoresForImport(const QString& path, ScoreImport::Outcome* outcome)
{
    const ScoreFileBytes file = readScoreFile(path);
    std::optional<std::vector<TQX_Score>> scores;
    if (file.state == ScoreFileBytes::State::Read)
        scores = parseScoreFile(file.bytes);
    if (outcome) {
        *outcome = file.state == ScoreFileBytes::State::Missing ? ScoreImport::Outcome::NoFile
                   : !scores                                    ? ScoreImport::Outcome::Damaged
                   : scores->empty()                            ? ScoreImport::Outcome::NoFile
                                                                : ScoreImport::Outcome::Imported;
    }
    return scores;
}

std::vector<ImportedRun> importedRunsFromScores(const std::vector<TQX_Score>& scores, const QTimeZone& zone)
{
    std::vector<ImportedRun> runs;
    runs.reserve(scores.size());
    for (const TQX_Score& s : scores)
        runs.push_back(importedRunFromScore(s, zone));
    // Played in date order: a score above the best of every earlier score of
    // its recording time (and above 0) was a record. Scores pushed out of a
    // full list are not there to compare; those were the oldest.
    std::vector<std::size_t> byDate(scores.size());
    for (std::size_t i = 0; i < byDate.size(); ++i)
        byDate[i] = i;
    std::stable_sort(byDate.begin(), byDate.end(),
                     [&](std::size_t a, std::size_t b) { return scores[a].Date < scores[b].Date; });
    std::map<std::int32_t, std::int32_t> best;
    for (const std::size_t i : byDate) {
        std::int32_t& bestOfTime = best[scores[i].Seconds];
        if (scores[i].Strokes > bestOfTime) {
            runs[i].run.result = RunResult::Record;
            bestOfTime = scores[i].Strokes;
        }
    }
    return runs;
}

namespace {

// Reads the score file and hands its runs to `apply` (add them, or count the
// ones not yet in); `added` is what apply says, or the import failed.
template <class Apply>
ScoreImport withScoreRuns(const QString& path, const QTimeZone& zone, Apply apply)
{
    ScoreImport result;
    const auto scores = readScoresForImport(path, &result.outcome);
    if (result.outcome != ScoreImport::Outcome::Imported)
        return result;
    const std::vector<ImportedRun> runs = importedRunsFromScores(*scores, zone);
    result.scores = static_cast<int>(runs.size());
    const std::optional<int> added = apply(runs);
    if (!added) {
        result.outcome = ScoreImport::Outcome::Failed;
        return result;
    }
    result.added = *added;
    return result;
}

} // namespace

ScoreImport importScoreFile(JournalDatabase& db, const QString& path, const QTimeZone& zone)
{
    return withScoreRuns(path, zone, [&db](const std::vector<ImportedRun>& runs) { return db.addImportedRuns(runs); });
}

ScoreImport previewScoreImport(JournalDatabase& db, const QString& path, const QTimeZone& zone)
{
    return withScoreRuns(path, zone, [&db](const std::vector<ImportedRun>& runs) { return db.countNewImports(runs); });
}
