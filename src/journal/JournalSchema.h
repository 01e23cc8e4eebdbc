#pragma once
// The journal's tables and their history. The database's PRAGMA user_version
// is the number of migrations applied; each migration runs in its own
// IMMEDIATE transaction together with the version bump, so a journal is
// always at one whole version, and a second Tempovaro that migrated first
// is simply seen at the newer version.
//
// Thread: the caller's, on a connection it owns.

#include <QString>

class QSqlDatabase;

// The version this program writes. A journal above it came from a newer
// Tempovaro and is never written or downgraded.
inline constexpr int kJournalSchemaVersion = 7;
// The version whose migration adds run_audits: an older journal, read as it
// is, has no attempts to look up.
inline constexpr int kRunAuditsSchemaVersion = 6;

// PRAGMA user_version, or -1 when it cannot be read.
int journalSchemaVersion(QSqlDatabase& db, QString* error = nullptr);

// Applies the migrations from the journal's version up to targetVersion
// (at most kJournalSchemaVersion). False with the driver's message when one
// fails; the migrations before it stay applied.
bool migrateJournal(QSqlDatabase& db, int targetVersion, QString* error = nullptr, int* errorCode = nullptr);
