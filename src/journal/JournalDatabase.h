#pragma once
// JournalDatabase: the practice journal, one SQLite file per user at
// $XDG_DATA_HOME/Tempovaro/journal.sqlite, reached through QtSql's QSQLITE
// driver. It stores every run with its set-up, result and every stroke at the
// device's exact tick, and reads them back for the windows and the
// command-line tool.
//
// Threads: one object per thread. QtSql connections belong to the thread that
// opened them, so construct, use and destroy the object on one thread; the
// journal window, the command-line tool and the JournalWriter's worker each
// have their own. Several objects and several programs may use one file at
// once: SQLite's locks and write-ahead log keep it whole, and a writer that
// finds it busy waits up to the busy timeout, then reports Locked.
//
// Safety: each run is written in one transaction, so a kill or power loss
// leaves the whole run or none of it. Only SQLite ever opens the journal's
// files: closing any other descriptor of the file would drop every POSIX lock
// this process holds on it, and another program would then delete our live
// write-ahead log. Whether a file is a database is asked of SQLite. A file
// that is not one, or is damaged, is moved aside to journal.sqlite.bak (.bak1,
// .bak2, ...) and a new journal started, but only where the caller allows it
// (after the user has been told); nothing is deleted. A journal from a newer
// Tempovaro is opened read-only.
//
// Readers (Options::readOnly) never create, change or delete a file: a
// journal with no pending log is opened immutable, which also reads a journal
// in a read-only folder; one with a log is opened read-only through it.
// Anything at the journal's name that is not a regular file (a pipe, a
// device, a folder) is refused before SQLite sees it, so no open blocks.
//
// The journal, its side files and its folder are private to the user (0600,
// 0700).
//
// Times are milliseconds since 1970-01-01 UTC; stroke ticks are in the run's
// ticksPerSecond.

#include "analysis/RunRecord.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class QSqlDatabase;
class QSqlError;
class SqlTransaction;

enum class JournalProblem {
    None,
    Missing,           // opened read-only, and there is no journal yet
    FolderNotWritable, // the folder or file cannot be created or written
    DiskFull,
    Locked,            // another connection held the write lock past the busy timeout
    NewerSchema,       // made by a newer Tempovaro: read-only, never written
    Damaged,           // a damaged database or stroke blob
    NotAFile,          // a pipe, device or folder stands at the journal's (or its log's) name
    NoAccess,          // the folder cannot be searched or the file read
    BeingCreated,      // the file exists but has no tables yet
    UnwritableFormat,  // a file format this SQLite reads but may not write
    Other,
};

// The per-run figures the journal table sorts and filters on. Empty values
// are stored as NULL: "not computed".
struct RunSummary {
    std::optional<double> strokesPerMinute;
    std::optional<double> evennessCvPercent;
    std::optional<double> fatiguePercent;
    // Against the run's click; empty for a run without one.
    std::optional<double> meanOffsetMs;
    std::optional<double> within10Percent;
};

// Computes a run's figures as it is written; set by whoever owns the figures.
using RunSummaryHook = std::function<RunSummary(const RunRecord&)>;

// One speed-builder plan as it was played: its tempo ladder, how far it
// went, and the highest tempo it passed cleanly.
struct SpeedPlanRecord {
    std::int64_t id = 0;              // journal row id, 0 before it is stored
    std::int64_t startUtcMs = 0;
    double startBpm = 0.0;
    double stepBpm = 0.0;
    double targetBpm = 0.0;
    std::int32_t bars = 0;            // per repetition
    std::int32_t subdivision = 1;
    std::int32_t repetitions = 0;     // judged
    std::optional<double> highestCleanBpm;
    bool reachedTarget = false;
};

// One stored run. From listRuns the strokes are left out.
struct JournalRun {
    RunRecord run;
    RunSummary summary;
};

// A run made from a score of the score file, and the key that stays the same
// each time that score is read, so importing a file twice adds it once.
struct ImportedRun {
    QString key;
    RunRecord run;
    RunSummary summary;
};

// Which runs listRuns returns, newest first.
struct RunFilter {
    std::optional<std::int32_t> recordingTimeMs; // only runs of this recording time (-1 endless)
    std::optional<std::int64_t> fromUtcMs;        // start at or after
    std::optional<std::int64_t> untilUtcMs;       // start before
    std::int32_t limit = -1;                      // -1 all
    std::int32_t offset = 0;
};

class JournalDatabase {
public:
    struct Options {
        bool readOnly = false;
        int busyTimeoutMs = 2000;
        // Caps the file at this many pages (0 = no cap); a full cap behaves
        // exactly like a full disk.
        std::int64_t maxPageCount = 0;
        // A file that is not a database, or that SQLite finds damaged, is
        // moved aside and a new journal started; otherwise open() fails with
        // Damaged (NotAFile for a pipe, a folder, ...) and leaves the file as
        // it is. Set it only once the user has been told.
        bool moveAsideDamaged = false;
        // Reads every page once (PRAGMA quick_check) so that damage anywhere
        // is found before a run is added to the file.
        bool checkWhole = false;
        // A reader goes through SQLite's locks even without a pending log
        // (it may then leave a log and shared memory behind).
        bool throughLocks = false;
    };

    explicit JournalDatabase(QString path = defaultPath());
    ~JournalDatabase();
    JournalDatabase(const JournalDatabase&) = delete;
    JournalDatabase& operator=(const JournalDatabase&) = delete;

    // $XDG_DATA_HOME/Tempovaro/journal.sqlite (default ~/.local/share).
    static QString defaultPath();

    // Creates the folder and the journal if needed, moves a non-database
    // aside, and brings an older journal up to this program's version. False
    // with problem() set when the journal cannot be used; true and
    // isReadOnly() for a newer journal.
    bool open(const Options& options);
    bool open() { return open(Options{}); }
    void close();
    bool isOpen() const;
    bool isReadOnly() const { return m_readOnly; }
    int schemaVersion() const { return m_version; }
    const QString& path() const { return m_path; }

    // The last operation's trouble, or None; problemReason() is a short
    // phrase for a status line ("read-only folder"), problemDetail() the
    // driver's own words.
    JournalProblem problem() const { return m_problem; }
    QString problemReason() const;
    const QString& problemDetail() const { return m_problemDetail; }
    // Where open() moved a file that was not a database, else empty.
    const QString& movedAsideTo() const { return m_movedAsideTo; }
    // problem() is a damaged file that open() has not moved aside.
    bool isDamaged() const { return m_problem == JournalProblem::Damaged; }
    // Another connection moved the opened file away or put a new one in its
    // place: this connection still reads the old one.
    bool fileReplaced() const;
    // A reader opened immutable saw the file change under it (a writer came
    // and went): what it read may mix old and new pages; read again with
    // throughLocks.
    bool readMayBeTorn() const;

    void setSummaryHook(RunSummaryHook hook) { m_summaryHook = std::move(hook); }

    // Writes one run and its strokes in one transaction; the new id.
    std::optional<std::int64_t> addRun(const RunRecord& run);
    // Adds, in one transaction, the runs whose key was never imported before,
    // and remembers their keys (also after the run is deleted, so a deleted
    // score stays deleted); how many were added.
    std::optional<int> addImportedRuns(const std::vector<ImportedRun>& runs);
    // How many of the runs addImportedRuns would add now.
    std::optional<int> countNewImports(const std::vector<ImportedRun>& runs);
    // Adds, in one transaction, the runs not already in the journal (same
    // start, recording time, count and device), so runs kept aside at a
    // close can be brought in twice without doubling; how many were added.
    std::optional<int> addRunsOnce(const std::vector<JournalRun>& runs);
    // Fills in figures computed later.
    bool setSummary(std::int64_t id, const RunSummary& summary);
    // Runs in order. When reading stops early (a damaged page), the runs read
    // so far come back with problem() set: never mistake them for the whole list.
    std::vector<JournalRun> listRuns(const RunFilter& filter = {});
    // The run with its strokes; a damaged stroke blob gives the run without
    // strokes and problem() Damaged.
    std::optional<JournalRun> loadRun(std::int64_t id);
    // The run a competition attempt was (RunRecord::auditAttemptId); empty
    // when none (check problem() for a failed read).
    std::optional<std::int64_t> runOfAttempt(std::int64_t attemptId);
    // Deletes the runs in one transaction; how many existed.
    std::optional<int> deleteRuns(const std::vector<std::int64_t>& ids);
    std::optional<std::int64_t> countRuns();

    // The speed builder's plans: one row each, written in one transaction;
    // listed oldest first (none in a journal from before they were kept).
    // A plan with an id replaces its row (kept again as it goes on), one
    // without, or whose row has gone, is added; the row's id.
    std::optional<std::int64_t> keepSpeedPlan(const SpeedPlanRecord& plan);
    std::vector<SpeedPlanRecord> listSpeedPlans();

private:
    bool openConnection(const Options& options, const QString& uriQuery = {});
    // This journal's connection, looked up in Qt's registry under the lock
    // that guards every registry call.
    QSqlDatabase connection() const;
    bool openForReading(const Options& options);
    bool openForWriting(const Options& options);
    // SQLite's verdict on the open connection: true when the file reads as a
    // database (and, with checkWhole, every page of it).
    bool probe(bool checkWhole);
    // Renames the file at m_path (and its -wal, -shm) to the first free
    // .bak name, unless, under the lock, it has meanwhile become a database
    // (another program moved the stranger and started a journal).
    bool moveAside(const Options& options);
    void rememberFile();
    void clearProblem();
    void fail(JournalProblem problem, const QString& detail);
    void fail(const QSqlError& error);
    // The real reason behind an error SQLite reports only by its code.
    JournalProblem diagnose(int primaryCode) const;
    // A write transaction (BEGIN IMMEDIATE), or none with problem() set
    // when the journal cannot be written or the write lock was not had.
    std::optional<SqlTransaction> beginWrite();
    // Commits tx; false with problem() set, and tx rolls back as it goes.
    bool commit(SqlTransaction& tx);
    // The columns rowToRun reads, as far as this journal's version has them.
    QString runColumns() const;
    // Inside a transaction: the run's row and its strokes; rolls nothing back.
    std::optional<std::int64_t> insertRun(const RunRecord& run, const RunSummary& summary);

    QString m_path;
    QString m_connection;
    bool m_readOnly = false;
    int m_version = 0;
    JournalProblem m_problem = JournalProblem::None;
    QString m_problemDetail;
    QString m_movedAsideTo;
    struct FileStamp {
        std::uint64_t inode = 0;
        std::uint64_t device = 0;
        std::int64_t size = -1;
        std::int64_t mtimeNs = 0;
        std::int64_t logSize = -1;
    };
    FileStamp stamp() const;
    FileStamp m_opened;
    bool m_immutable = false;
    RunSummaryHook m_summaryHook;
};
