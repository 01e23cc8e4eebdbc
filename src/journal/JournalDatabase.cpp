#include "JournalDatabase.h"

#include "JournalSchema.h"
#include "StrokeBlob.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QVariant>

#include <atomic>
#include <cstdio>
#include <limits>

namespace {

// SQLite's primary result codes, as QSQLITE reports them in nativeErrorCode().
constexpr int kSqliteBusy = 5;
constexpr int kSqliteLocked = 6;
constexpr int kSqliteReadOnly = 8;
constexpr int kSqliteCorrupt = 11;
constexpr int kSqliteFull = 13;
constexpr int kSqliteCantOpen = 14;
constexpr int kSqliteNotADatabase = 26;

// Every journal starts with this header; an empty file is a journal not yet written.
constexpr char kSqliteHeader[] = "SQLite format 3";

const QString kRunColumns = QStringLiteral(
    "r.id, r.start_utc_ms, r.recording_time_ms, r.ran_to_end, r.stroke_count, r.result,"
    " r.device_type, r.device_name, r.device_line, r.midi_channel, r.midi_note, r.detector,"
    " r.ticks_per_second, r.dropped_events");
const QString kSummaryColumns = QStringLiteral(", r.strokes_per_minute, r.evenness_cv_percent, r.fatigue_percent");
// A read-only journal of the first version has no figures yet.
const QString kNoSummaryColumns = QStringLiteral(", NULL, NULL, NULL");

int primaryCode(const QSqlError& e)
{
    // Extended result codes keep the primary code in the low byte.
    return e.nativeErrorCode().toInt() & 0xff;
}

bool isDamaged(const QSqlError& e)
{
    const int code = primaryCode(e);
    return code == kSqliteNotADatabase || code == kSqliteCorrupt;
}

bool looksLikeDatabase(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return true;
    // A folder or a pipe under the journal's name: never read from it (a
    // pipe would block), move it aside like any other stranger.
    if (!info.isFile())
        return false;
    if (info.size() == 0)
        return true;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return true; // let SQLite say what is wrong
    return f.read(sizeof kSqliteHeader) == QByteArray(kSqliteHeader, sizeof kSqliteHeader);
}

bool existsAtAll(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

bool renamePath(const QString& from, const QString& to)
{
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

QVariant nullable(const std::optional<double>& v)
{
    return v ? QVariant(*v) : QVariant(QMetaType::fromType<double>());
}

std::optional<double> optionalDouble(const QVariant& v)
{
    if (v.isNull())
        return std::nullopt;
    return v.toDouble();
}

JournalRun rowToRun(const QSqlQuery& q)
{
    JournalRun j;
    RunRecord& r = j.run;
    r.id = q.value(0).toLongLong();
    r.startUtcMs = q.value(1).toLongLong();
    r.recordingTimeMs = q.value(2).toInt();
    r.ranToEnd = q.value(3).toInt() != 0;
    r.count = q.value(4).toInt();
    r.result = runResultFromCode(q.value(5).toInt());
    r.device.type = static_cast<DeviceType>(q.value(6).toInt());
    r.device.name = q.value(7).toString().toStdString();
    r.device.line = q.value(8).toString().toStdString();
    r.device.channel = q.value(9).toInt();
    r.device.note = q.value(10).toInt();
    r.device.detector = static_cast<AudioDetector>(q.value(11).toInt());
    r.ticksPerSecond = q.value(12).toLongLong();
    r.droppedEvents = static_cast<std::uint64_t>(q.value(13).toLongLong());
    j.summary.strokesPerMinute = optionalDouble(q.value(14));
    j.summary.evennessCvPercent = optionalDouble(q.value(15));
    j.summary.fatiguePercent = optionalDouble(q.value(16));
    return j;
}

std::atomic<unsigned> g_connectionSerial{0};

} // namespace

JournalDatabase::JournalDatabase(QString path)
    : m_path(std::move(path))
{
}

JournalDatabase::~JournalDatabase()
{
    close();
}

QString JournalDatabase::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Tempovaro/journal.sqlite");
}

bool JournalDatabase::isOpen() const
{
    return !m_connection.isEmpty();
}

void JournalDatabase::close()
{
    if (m_connection.isEmpty())
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        db.close();
    }
    // Only once no QSqlDatabase handle is left may the connection go.
    QSqlDatabase::removeDatabase(m_connection);
    m_connection.clear();
}

bool JournalDatabase::open(const Options& options)
{
    close();
    m_problem = JournalProblem::None;
    m_problemDetail.clear();
    m_movedAsideTo.clear();
    m_readOnly = options.readOnly;
    m_version = 0;

    if (!options.readOnly) {
        const QString folder = QFileInfo(m_path).absolutePath();
        if (!QDir().mkpath(folder)) {
            fail(JournalProblem::FolderNotWritable, QStringLiteral("cannot create the folder %1").arg(folder));
            return false;
        }
        if (!looksLikeDatabase(m_path) && !moveAside(options.busyTimeoutMs, false))
            return false;
    } else if (!existsAtAll(m_path)) {
        fail(JournalProblem::Missing, QStringLiteral("no journal at %1").arg(m_path));
        return false;
    }
    if (!openConnection(options))
        return false;

    // Reading the schema is the first time SQLite looks past the header: a
    // damaged file shows itself here.
    QSqlQuery probe(QSqlDatabase::database(m_connection, false));
    if (!probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_master"))) {
        const QSqlError error = probe.lastError();
        probe = QSqlQuery();
        if (!isDamaged(error) || options.readOnly) {
            fail(error);
            close();
            return false;
        }
        close();
        if (!moveAside(options.busyTimeoutMs, true) || !openConnection(options))
            return false;
    }
    probe = QSqlQuery();

    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QString error;
    m_version = journalSchemaVersion(db, &error);
    if (m_version < 0) {
        fail(JournalProblem::Other, error);
        close();
        return false;
    }
    if (m_version > kJournalSchemaVersion) {
        // Tables we don't know may depend on rows we would write: read only.
        m_readOnly = true;
        QSqlQuery(db).exec(QStringLiteral("PRAGMA query_only = ON"));
        fail(JournalProblem::NewerSchema,
             QStringLiteral("journal version %1, this program knows up to %2").arg(m_version).arg(kJournalSchemaVersion));
        return true;
    }
    if (options.readOnly)
        return true;

    QSqlQuery q(db);
    // WAL lets the journal window read while a run is written, and a torn
    // write never reaches the main file. FULL syncs each run's commit: the
    // writer runs off the measurement's thread, so durability is cheap.
    if (!q.exec(QStringLiteral("PRAGMA journal_mode = WAL")) || !q.exec(QStringLiteral("PRAGMA synchronous = FULL")) ||
        (options.maxPageCount > 0 &&
         !q.exec(QStringLiteral("PRAGMA max_page_count = %1").arg(options.maxPageCount)))) {
        fail(q.lastError());
        q = QSqlQuery();
        close();
        return false;
    }
    q = QSqlQuery();
    int code = 0;
    if (m_version < kJournalSchemaVersion && !migrateJournal(db, kJournalSchemaVersion, &error, &code)) {
        QSqlError sqlError(QString(), error, QSqlError::StatementError, QString::number(code));
        fail(sqlError);
        close();
        return false;
    }
    m_version = kJournalSchemaVersion;
    return true;
}

bool JournalDatabase::openConnection(const Options& options)
{
    m_connection = QStringLiteral("tempovaro-journal-%1").arg(g_connectionSerial.fetch_add(1));
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    db.setDatabaseName(m_path);
    QString connectOptions = QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(options.busyTimeoutMs);
    if (options.readOnly)
        connectOptions += QStringLiteral(";QSQLITE_OPEN_READONLY");
    db.setConnectOptions(connectOptions);
    if (db.open())
        return true;
    fail(db.lastError());
    db = QSqlDatabase();
    close();
    return false;
}

bool JournalDatabase::moveAside(int busyTimeoutMs, bool evenWithHeader)
{
    // Two programs finding the same stranger must not both move it: the
    // second would move the first one's new journal. The lock serialises
    // them, and the second finds a database and leaves it.
    QLockFile lock(m_path + QStringLiteral(".lock"));
    if (!lock.tryLock(busyTimeoutMs)) {
        fail(lock.error() == QLockFile::LockFailedError ? JournalProblem::Locked : JournalProblem::FolderNotWritable,
             QStringLiteral("cannot lock %1.lock").arg(m_path));
        return false;
    }
    // Another program moved the stranger and started a journal meanwhile.
    if (!evenWithHeader && looksLikeDatabase(m_path))
        return true;
    for (int k = 0; k < 10000; ++k) {
        const QString bak = m_path + QStringLiteral(".bak") + (k == 0 ? QString() : QString::number(k));
        if (existsAtAll(bak) || existsAtAll(bak + QStringLiteral("-wal")) || existsAtAll(bak + QStringLiteral("-shm")))
            continue;
        if (!renamePath(m_path, bak)) {
            fail(JournalProblem::FolderNotWritable, QStringLiteral("cannot move %1 aside").arg(m_path));
            return false;
        }
        // A log left beside the stranger belongs to it: a new journal must
        // not replay it, and the .bak opens with it.
        for (const auto* suffix : {"-wal", "-shm"}) {
            const QString side = m_path + QLatin1String(suffix);
            if (existsAtAll(side))
                renamePath(side, bak + QLatin1String(suffix));
        }
        m_movedAsideTo = bak;
        return true;
    }
    fail(JournalProblem::FolderNotWritable, QStringLiteral("no free name to move %1 aside").arg(m_path));
    return false;
}

void JournalDatabase::fail(JournalProblem problem, const QString& detail)
{
    m_problem = problem;
    m_problemDetail = detail;
}

void JournalDatabase::fail(const QSqlError& error)
{
    JournalProblem problem = JournalProblem::Other;
    switch (primaryCode(error)) {
    case kSqliteBusy:
    case kSqliteLocked:
        problem = JournalProblem::Locked;
        break;
    case kSqliteReadOnly:
    case kSqliteCantOpen:
        problem = JournalProblem::FolderNotWritable;
        break;
    case kSqliteFull:
        problem = JournalProblem::DiskFull;
        break;
    case kSqliteCorrupt:
    case kSqliteNotADatabase:
        problem = JournalProblem::Damaged;
        break;
    default:
        break;
    }
    fail(problem, error.text());
}

QString JournalDatabase::problemReason() const
{
    switch (m_problem) {
    case JournalProblem::None:
        return {};
    case JournalProblem::Missing:
        return QStringLiteral("no journal yet");
    case JournalProblem::FolderNotWritable:
        return QStringLiteral("read-only folder");
    case JournalProblem::DiskFull:
        return QStringLiteral("disk full");
    case JournalProblem::Locked:
        return QStringLiteral("in use by another Tempovaro");
    case JournalProblem::NewerSchema:
        return QStringLiteral("made by a newer Tempovaro");
    case JournalProblem::Damaged:
        return QStringLiteral("damaged");
    case JournalProblem::Other:
        break;
    }
    return QStringLiteral("database error");
}

bool JournalDatabase::begin()
{
    if (!isOpen()) {
        fail(JournalProblem::Other, QStringLiteral("the journal is not open"));
        return false;
    }
    if (m_readOnly) {
        fail(m_version > kJournalSchemaVersion ? JournalProblem::NewerSchema : JournalProblem::FolderNotWritable,
             QStringLiteral("the journal is open read-only"));
        return false;
    }
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    // IMMEDIATE: wait for the write lock now (busy timeout), not halfway through the run.
    if (q.exec(QStringLiteral("BEGIN IMMEDIATE")))
        return true;
    fail(q.lastError());
    return false;
}

void JournalDatabase::rollback()
{
    QSqlQuery(QSqlDatabase::database(m_connection, false)).exec(QStringLiteral("ROLLBACK"));
}

std::optional<std::int64_t> JournalDatabase::insertRun(const RunRecord& run, const RunSummary& summary)
{
    const QByteArray blob = packStrokes(run.strokes);
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    std::int64_t id = 0;
    {
        QSqlQuery q(db);
        q.prepare(QStringLiteral(
            "INSERT INTO runs (start_utc_ms, recording_time_ms, ran_to_end, stroke_count, result, device_type,"
            " device_name, device_line, midi_channel, midi_note, detector, ticks_per_second, dropped_events,"
            " strokes_per_minute, evenness_cv_percent, fatigue_percent)"
            " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
        q.addBindValue(QVariant::fromValue<qint64>(run.startUtcMs));
        q.addBindValue(run.recordingTimeMs);
        q.addBindValue(run.ranToEnd ? 1 : 0);
        q.addBindValue(run.count);
        q.addBindValue(static_cast<int>(run.result));
        q.addBindValue(static_cast<std::int32_t>(run.device.type));
        q.addBindValue(QString::fromStdString(run.device.name));
        q.addBindValue(QString::fromStdString(run.device.line));
        q.addBindValue(run.device.channel);
        q.addBindValue(run.device.note);
        q.addBindValue(static_cast<std::int32_t>(run.device.detector));
        q.addBindValue(QVariant::fromValue<qint64>(run.ticksPerSecond));
        q.addBindValue(QVariant::fromValue<qint64>(static_cast<qint64>(
            std::min<std::uint64_t>(run.droppedEvents, std::numeric_limits<qint64>::max()))));
        q.addBindValue(nullable(summary.strokesPerMinute));
        q.addBindValue(nullable(summary.evennessCvPercent));
        q.addBindValue(nullable(summary.fatiguePercent));
        if (!q.exec()) {
            fail(q.lastError());
            q = QSqlQuery();
            return std::nullopt;
        }
        id = q.lastInsertId().toLongLong();
    }
    {
        QSqlQuery q(db);
        q.prepare(QStringLiteral("INSERT INTO run_strokes (run_id, data) VALUES (?, ?)"));
        q.addBindValue(QVariant::fromValue<qint64>(id));
        q.addBindValue(blob);
        if (!q.exec()) {
            fail(q.lastError());
            q = QSqlQuery();
            return std::nullopt;
        }
    }
    return id;
}

std::optional<std::int64_t> JournalDatabase::addRun(const RunRecord& run)
{
    RunSummary summary;
    // The figures are a bonus: a run is kept even when they cannot be computed.
    try {
        if (m_summaryHook)
            summary = m_summaryHook(run);
    } catch (...) {
        summary = RunSummary{};
    }
    if (!begin())
        return std::nullopt;
    const std::optional<std::int64_t> id = insertRun(run, summary);
    if (!id) {
        rollback();
        return std::nullopt;
    }
    if (!commit())
        return std::nullopt;
    return id;
}

std::optional<int> JournalDatabase::addImportedRuns(const std::vector<ImportedRun>& runs)
{
    if (!begin())
        return std::nullopt;
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    int added = 0;
    {
        QSqlQuery known(db), remember(db);
        known.prepare(QStringLiteral("SELECT 1 FROM imported_scores WHERE score_key = ?"));
        remember.prepare(QStringLiteral("INSERT INTO imported_scores (score_key, run_id) VALUES (?, ?)"));
        for (const ImportedRun& imported : runs) {
            known.addBindValue(imported.key);
            if (!known.exec()) {
                fail(known.lastError());
                known = QSqlQuery();
                remember = QSqlQuery();
                rollback();
                return std::nullopt;
            }
            const bool seen = known.next();
            known.finish();
            if (seen)
                continue;
            const std::optional<std::int64_t> id = insertRun(imported.run, imported.summary);
            if (id) {
                remember.addBindValue(imported.key);
                remember.addBindValue(QVariant::fromValue<qint64>(*id));
            }
            if (!id || !remember.exec()) {
                if (id)
                    fail(remember.lastError());
                known = QSqlQuery();
                remember = QSqlQuery();
                rollback();
                return std::nullopt;
            }
            ++added;
        }
    }
    if (!commit())
        return std::nullopt;
    return added;
}

std::optional<int> JournalDatabase::countNewImports(const std::vector<ImportedRun>& runs)
{
    if (!isOpen())
        return std::nullopt;
    QSqlQuery known(QSqlDatabase::database(m_connection, false));
    known.prepare(QStringLiteral("SELECT 1 FROM imported_scores WHERE score_key = ?"));
    int fresh = 0;
    for (const ImportedRun& imported : runs) {
        known.addBindValue(imported.key);
        if (!known.exec()) {
            fail(known.lastError());
            return std::nullopt;
        }
        fresh += known.next() ? 0 : 1;
        known.finish();
    }
    return fresh;
}

bool JournalDatabase::commit()
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery commit(db);
    if (!commit.exec(QStringLiteral("COMMIT"))) {
        fail(commit.lastError());
        commit = QSqlQuery();
        rollback();
        return false;
    }
    m_problem = m_version > kJournalSchemaVersion ? JournalProblem::NewerSchema : JournalProblem::None;
    m_problemDetail.clear();
    return true;
}

bool JournalDatabase::setSummary(std::int64_t id, const RunSummary& summary)
{
    if (!begin())
        return false;
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery q(db);
    q.prepare(QStringLiteral(
        "UPDATE runs SET strokes_per_minute = ?, evenness_cv_percent = ?, fatigue_percent = ? WHERE id = ?"));
    q.addBindValue(nullable(summary.strokesPerMinute));
    q.addBindValue(nullable(summary.evennessCvPercent));
    q.addBindValue(nullable(summary.fatiguePercent));
    q.addBindValue(QVariant::fromValue<qint64>(id));
    const bool updated = q.exec() && q.numRowsAffected() == 1;
    if (!updated && q.lastError().isValid())
        fail(q.lastError());
    q = QSqlQuery();
    if (!QSqlQuery(db).exec(QStringLiteral("COMMIT"))) {
        rollback();
        return false;
    }
    return updated;
}

std::vector<JournalRun> JournalDatabase::listRuns(const RunFilter& filter)
{
    std::vector<JournalRun> runs;
    if (!isOpen())
        return runs;
    QString sql = QStringLiteral("SELECT ") + kRunColumns +
                  (m_version >= 2 ? kSummaryColumns : kNoSummaryColumns) + QStringLiteral(" FROM runs r WHERE 1");
    QVariantList values;
    if (filter.recordingTimeMs) {
        sql += QStringLiteral(" AND r.recording_time_ms = ?");
        values << *filter.recordingTimeMs;
    }
    if (filter.fromUtcMs) {
        sql += QStringLiteral(" AND r.start_utc_ms >= ?");
        values << QVariant::fromValue<qint64>(*filter.fromUtcMs);
    }
    if (filter.untilUtcMs) {
        sql += QStringLiteral(" AND r.start_utc_ms < ?");
        values << QVariant::fromValue<qint64>(*filter.untilUtcMs);
    }
    sql += QStringLiteral(" ORDER BY r.start_utc_ms DESC, r.id DESC LIMIT ? OFFSET ?");
    values << filter.limit << filter.offset;

    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.setForwardOnly(true);
    q.prepare(sql);
    for (const auto& v : values)
        q.addBindValue(v);
    if (!q.exec()) {
        fail(q.lastError());
        return runs;
    }
    while (q.next())
        runs.push_back(rowToRun(q));
    return runs;
}

std::optional<JournalRun> JournalDatabase::loadRun(std::int64_t id)
{
    if (!isOpen())
        return std::nullopt;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT ") + kRunColumns + (m_version >= 2 ? kSummaryColumns : kNoSummaryColumns) +
              QStringLiteral(", s.data FROM runs r LEFT JOIN run_strokes s ON s.run_id = r.id WHERE r.id = ?"));
    q.addBindValue(QVariant::fromValue<qint64>(id));
    if (!q.exec()) {
        fail(q.lastError());
        return std::nullopt;
    }
    if (!q.next())
        return std::nullopt;
    JournalRun j = rowToRun(q);
    const QVariant data = q.value(17);
    if (!data.isNull()) {
        auto strokes = unpackStrokes(data.toByteArray());
        if (strokes)
            j.run.strokes = std::move(*strokes);
        else
            fail(JournalProblem::Damaged, QStringLiteral("the strokes of run %1 cannot be read").arg(id));
    }
    return j;
}

std::optional<int> JournalDatabase::deleteRuns(const std::vector<std::int64_t>& ids)
{
    if (!begin())
        return std::nullopt;
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    int deleted = 0;
    {
        QSqlQuery strokes(db), runs(db);
        strokes.prepare(QStringLiteral("DELETE FROM run_strokes WHERE run_id = ?"));
        runs.prepare(QStringLiteral("DELETE FROM runs WHERE id = ?"));
        for (const std::int64_t id : ids) {
            strokes.addBindValue(QVariant::fromValue<qint64>(id));
            runs.addBindValue(QVariant::fromValue<qint64>(id));
            if (!strokes.exec() || !runs.exec()) {
                fail(strokes.lastError().isValid() ? strokes.lastError() : runs.lastError());
                strokes = QSqlQuery();
                runs = QSqlQuery();
                rollback();
                return std::nullopt;
            }
            deleted += runs.numRowsAffected();
        }
    }
    QSqlQuery commit(db);
    if (!commit.exec(QStringLiteral("COMMIT"))) {
        fail(commit.lastError());
        commit = QSqlQuery();
        rollback();
        return std::nullopt;
    }
    return deleted;
}

std::optional<std::int64_t> JournalDatabase::countRuns()
{
    if (!isOpen())
        return std::nullopt;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    if (!q.exec(QStringLiteral("SELECT count(*) FROM runs")) || !q.next()) {
        fail(q.lastError());
        return std::nullopt;
    }
    return q.value(0).toLongLong();
}
