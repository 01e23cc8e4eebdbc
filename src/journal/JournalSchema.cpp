#include "journal/JournalSchema.h"

#include "journal/SqlTransaction.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <array>
#include <vector>

namespace {

// Migration k brings a journal from version k to k + 1. Never edit one that
// has shipped: add the next.
const std::array<std::vector<const char*>, kJournalSchemaVersion> kMigrations = {{
    // 1: runs and their strokes. The strokes live in their own table so
    // listing thousands of runs never reads a stroke blob.
    {
        "CREATE TABLE runs ("
        " id INTEGER PRIMARY KEY,"
        " start_utc_ms INTEGER NOT NULL,"
        " recording_time_ms INTEGER NOT NULL," // -1 endless
        " ran_to_end INTEGER NOT NULL,"
        " stroke_count INTEGER NOT NULL,"
        " result INTEGER NOT NULL,"            // RunResult: 0 cut short, 1 finished, 2 record, 3 stopped, 4 device lost
        " device_type INTEGER NOT NULL,"       // 1 audio, 2 MIDI
        " device_name TEXT NOT NULL,"
        " device_line TEXT NOT NULL,"
        " midi_channel INTEGER NOT NULL,"
        " midi_note INTEGER NOT NULL,"
        " detector INTEGER NOT NULL,"
        " ticks_per_second INTEGER NOT NULL,"
        " dropped_events INTEGER NOT NULL)",
        "CREATE TABLE run_strokes ("
        " run_id INTEGER PRIMARY KEY REFERENCES runs(id),"
        " data BLOB NOT NULL)",
        "CREATE INDEX runs_by_start ON runs(start_utc_ms)",
    },
    // 2: the figures the journal table sorts and filters on, empty until the
    // figures are computed for a run.
    {
        "ALTER TABLE runs ADD COLUMN strokes_per_minute REAL",
        "ALTER TABLE runs ADD COLUMN evenness_cv_percent REAL",
        "ALTER TABLE runs ADD COLUMN fatigue_percent REAL",
        "CREATE INDEX runs_by_time_and_start ON runs(recording_time_ms, start_utc_ms)",
    },
    // 3: the scores already brought in from a score file, by a key made of
    // the score itself. The key outlives its run, so a score the drummer
    // deleted from the journal is not brought back by the next import.
    {
        "CREATE TABLE imported_scores ("
        " score_key TEXT PRIMARY KEY,"
        " run_id INTEGER NOT NULL)",
    },
    // 4: the device's stable ID beside the name it was listed under, so a
    // device renamed by its driver or server is still the same device. A
    // MIDI run stored before, under its port's GUID for want of a name,
    // has that GUID as its ID.
    {
        "ALTER TABLE runs ADD COLUMN device_id TEXT NOT NULL DEFAULT ''",
        "UPDATE runs SET device_id = device_name WHERE device_type = 2"
        " AND length(device_name) = 38 AND device_name GLOB '{*-*-*-*-*}'",
    },
    // 5: the click a run was played against (NULL tempo: no click), with
    // its grid's first point in the run's own ticks so the strokes can be
    // timed again, and the two timing figures the table shows. Runs before
    // had no click. And the speed builder's plans.
    {
        "ALTER TABLE runs ADD COLUMN click_tempo_bpm REAL",
        "ALTER TABLE runs ADD COLUMN click_subdivision INTEGER",
        "ALTER TABLE runs ADD COLUMN click_beats_per_bar INTEGER",
        "ALTER TABLE runs ADD COLUMN click_bars_on INTEGER",
        "ALTER TABLE runs ADD COLUMN click_bars_off INTEGER",
        "ALTER TABLE runs ADD COLUMN click_grid_start_tick REAL",
        "ALTER TABLE runs ADD COLUMN click_latency_us INTEGER",
        "ALTER TABLE runs ADD COLUMN mean_offset_ms REAL",
        "ALTER TABLE runs ADD COLUMN within_10ms_percent REAL",
        // Each speed-builder plan played: its ladder, and the highest tempo
        // it passed (NULL: none passed), charted over the weeks.
        "CREATE TABLE speed_plans ("
        " id INTEGER PRIMARY KEY,"
        " start_utc_ms INTEGER NOT NULL,"
        " start_bpm REAL NOT NULL,"
        " step_bpm REAL NOT NULL,"
        " target_bpm REAL NOT NULL,"
        " bars INTEGER NOT NULL,"
        " subdivision INTEGER NOT NULL,"
        " repetitions INTEGER NOT NULL,"
        " highest_clean_bpm REAL,"
        " reached_target INTEGER NOT NULL)",
    },
    // 6: the competition attempt a run was, by its id in the audit folder
    // and the digest that seals its recording, so the recording and its
    // record are found from the run (and the run from the attempt).
    {
        "CREATE TABLE run_audits ("
        " run_id INTEGER PRIMARY KEY REFERENCES runs(id),"
        " attempt_id INTEGER NOT NULL,"
        " digest TEXT NOT NULL)",
        "CREATE INDEX run_audits_by_attempt ON run_audits(attempt_id)",
    },
    // 7: how far the click's output clock and the run's stroke clock ran
    // apart (parts per million, NULL: not measured, as on one clock), so
    // strokes timed on another card's clock are timed again the same way.
    {
        "ALTER TABLE runs ADD COLUMN click_clock_ppm REAL",
    },
}};

// Hands the driver's words and code to the caller; always false.
bool report(const QSqlError& e, QString* error, int* errorCode)
{
    if (error)
        *error = e.text();
    if (errorCode)
        *errorCode = e.nativeErrorCode().toInt();
    return false;
}

bool run(QSqlQuery& q, const QString& sql, QString* error, int* errorCode)
{
    return q.exec(sql) || report(q.lastError(), error, errorCode);
}

} // namespace

int journalSchemaVersion(QSqlDatabase& db, QString* error)
{
    QSqlQuery q(db);
    if (!run(q, QStringLiteral("PRAGMA user_version"), error, nullptr) || !q.next())
        return -1;
    return q.value(0).toInt();
}

bool migrateJournal(QSqlDatabase& db, int targetVersion, QString* error, int* errorCode)
{
    if (targetVersion > kJournalSchemaVersion)
        targetVersion = kJournalSchemaVersion;
    for (;;) {
        // IMMEDIATE takes the write lock before the version is read, so two
        // programs starting together cannot both apply the same step.
        SqlTransaction tx(db, QStringLiteral("BEGIN IMMEDIATE"));
        if (!tx.isActive())
            return report(tx.lastError(), error, errorCode);
        const int version = journalSchemaVersion(db, error);
        if (version < 0)
            return false;
        if (version >= targetVersion) {
            // Nothing was written: a failed commit just rolls back.
            tx.commit();
            return true;
        }
        {
            QSqlQuery q(db);
            for (const char* sql : kMigrations[static_cast<std::size_t>(version)])
                if (!run(q, QString::fromLatin1(sql), error, errorCode))
                    return false;
            if (!run(q, QStringLiteral("PRAGMA user_version = %1").arg(version + 1), error, errorCode))
                return false;
        }
        if (!tx.commit())
            return report(tx.lastError(), error, errorCode);
    }
}
