#pragma once
// The standings of one competition from its kept attempts: every drummer's
// heats with the best of them, and the ranking, made from the finals only
// (a drummer's best final; equal counts share a place: 1, 1, 3). Attempts
// flagged for a dropout stay in, marked, for the judges to decide.
//
// Threads: any; pure functions on QtCore values.

#include "audit/AuditRecord.h"

#include <QByteArray>
#include <QList>
#include <QString>

struct DrummerHeats {
    QString drummer;
    QList<AuditRecord> heats;  // oldest first
    std::int32_t bestHeat = -1; // index into heats, -1 without any
};

struct RankRow {
    std::int32_t place = 0;
    QString drummer;
    std::int32_t count = 0;
    std::int64_t attemptId = 0;
    bool flagged = false;
};

// Drummers are the same person when their names match ignoring case and
// surrounding spaces; the first spelling is shown.
QList<DrummerHeats> heatsByDrummer(const QList<AuditRecord>& records, const QString& competition);
QList<RankRow> finalsRanking(const QList<AuditRecord>& records, const QString& competition);
// place,drummer,count,attempt,flagged with a header line; text that a
// spreadsheet would run as a formula is neutralised.
QByteArray rankingCsv(const QList<RankRow>& rows);
// The competitions that have attempts, in the order first seen.
QStringList competitions(const QList<AuditRecord>& records);
