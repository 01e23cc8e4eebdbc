#pragma once
// JournalImport: brings the scores of a score file ("Tempovaro.qxs") into the
// journal as runs without stroke times, once each. The file is only read,
// through the score file's own pure reader: a damaged file imports nothing
// and stays exactly as it is.
//
// Threads: the caller's, with a JournalDatabase it owns. Units: a score's
// date is local days since 30 December 1899 (time of day as the fraction);
// journal times are milliseconds since 1970-01-01 UTC.

#include "journal/JournalDatabase.h"
#include "persistence/QX_Global.h"

#include <QTimeZone>

#include <cstdint>
#include <optional>
#include <vector>

// A score date read in the given zone, as milliseconds since 1970 UTC.
std::int64_t scoreDateToUtcMs(double date, const QTimeZone& zone);

// The run a score stands for: it started its recording time before the
// moment the score was taken, reached its end and was Finished.
ImportedRun importedRunFromScore(const TQX_Score& score, const QTimeZone& zone);
// The runs of a score file's scores, in the file's order. A score that beat
// every earlier score of its recording time in the file was a record when
// it was played, as the main window judged it, and arrives as one.
std::vector<ImportedRun> importedRunsFromScores(const std::vector<TQX_Score>& scores, const QTimeZone& zone);

struct ScoreImport {
    enum class Outcome {
        NoFile,   // no score file, or one without scores
        Damaged,  // unreadable, short or holding values never written: nothing imported
        Imported, // added new runs (none when every score was already in)
        Failed,   // the journal could not be written: see the database's problem
    };
    Outcome outcome = Outcome::NoFile;
    int scores = 0; // well-formed scores in the file
    int added = 0;  // runs added now
};

// The scores of a file, or nothing when there is no file or it is damaged;
// outcome tells which.
std::optional<std::vector<TQX_Score>> readScoresForImport(const QString& path, ScoreImport::Outcome* outcome);

ScoreImport importScoreFile(JournalDatabase& db, const QString& path, const QTimeZone& zone);
// What importScoreFile would do now, without writing: `added` is how many
// scores it would bring in (0 when every one was brought in before, even if
// its run was deleted since); Failed when the journal could not be read.
ScoreImport previewScoreImport(JournalDatabase& db, const QString& path, const QTimeZone& zone);
