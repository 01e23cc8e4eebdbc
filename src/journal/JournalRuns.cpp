// The journal's runs: adding, importing, listing, loading and deleting them,
// each write in one transaction. Opening and recovery are in JournalDatabase.cpp.
#include "journal/JournalDatabase.h"

#include "journal/JournalSchema.h"
#include "journal/SqlRows.h"
#include "journal/SqlTransaction.h"
#include "journal/StrokeBlob.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <limits>

namespace {

const QString kRunColumns = QStringLiteral(
    "r.id, r.start_utc_ms, r.recording_time_ms, r.ran_to_end, r.stroke_count, r.result,"
    " r.device_type, r.device_name, r.device_line, r.midi_channel, r.midi_note, r.detector,"
    " r.ticks_per_second, r.dropped_events");
const QString kSummaryColumns = QStringLiteral(", r.strokes_per_minute, r.evenness_cv_percent, r.fatigue_percent");
// A read-only journal of the first version has no figures yet.
const QString kNoSummaryColumns = QStringLiteral(", NULL, NULL, NULL");
// Nor one before the fourth a device ID.
const QString kDeviceIdColumn = QStringLiteral(", r.device_id");
const QString kNoDeviceIdColumn = QStringLiteral(", ''");
// Nor one before the fifth a click.
const QString kClickColumns = QStringLiteral(
    ", r.click_tempo_bpm, r.click_subdivision, r.click_beats_per_bar, r.click_bars_on, r.click_bars_off,"
    " r.click_grid_start_tick, r.click_latency_us, r.mean_offset_ms, r.within_10ms_percent");
const QString kNoClickColumns = QStringLiteral(", NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL");
// Nor one before the seventh the clocks' difference.
const QString kClockPpmColumn = QStringLiteral(", r.click_clock_ppm");
const QString kNoClockPpmColumn = QStringLiteral(", NULL");
constexpr int kClickColumn = 18;
constexpr int kClockPpmColumnIndex = 27;
constexpr int kStrokeDataColumn = 28;

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
    r.device.id = q.value(17).toString().toStdString();
    // A click whose numbers cannot make a grid (a hand-edited row) is left
    // out: the run stays a run with a count.
    const QVariant tempo = q.value(kClickColumn);
    if (!tempo.isNull()) {
        RunClick c;
        c.tempoBpm = tempo.toDouble();
        c.subdivision = q.value(kClickColumn + 1).toInt();
        c.beatsPerBar = q.value(kClickColumn + 2).toInt();
        c.barsOn = q.value(kClickColumn + 3).toInt();
        c.barsOff = q.value(kClickColumn + 4).toInt();
        c.gridStartTick = q.value(kClickColumn + 5).toDouble();
        c.latencyUs = q.value(kClickColumn + 6).toInt();
        c.clockPpm = optionalDouble(q.value(kClockPpmColumnIndex)).value_or(0.0);
        // Two clocks a percent apart are no sound cards.
        if (c.tempoBpm > 0.0 && c.subdivision > 0 && c.beatsPerBar > 0 && c.barsOn > 0 && c.barsOff >= 0 &&
            std::abs(c.clockPpm) < 10000.0)
            r.click = c;
    }
    j.summary.meanOffsetMs = optionalDouble(q.value(kClickColumn + 7));
    j.summary.within10Percent = optionalDouble(q.value(kClickColumn + 8));
    return j;
}

} // namespace

std::optional<SqlTransaction> JournalDatabase::beginWrite()
{
    if (!isOpen()) {
        fail(JournalProblem::Other, QStringLiteral("the journal is not open"));
        return std::nullopt;
    }
    if (m_readOnly) {
        fail(m_version > kJournalSchemaVersion ? JournalProblem::NewerSchema : JournalProblem::FolderNotWritable,
             QStringLiteral("the journal is open read-only"));
        return std::nullopt;
    }
    // IMMEDIATE: wait for the write lock now (busy timeout), not halfway through the run.
    SqlTransaction tx(connection(), QStringLiteral("BEGIN IMMEDIATE"));
    if (tx.isActive())
        return tx;
    fail(tx.lastError());
    return std::nullopt;
}

bool JournalDatabase::commit(SqlTransaction& tx)
{
    if (tx.commit())
        return true;
    fail(tx.lastError());
    return false;
}

std::optional<std::int64_t> JournalDatabase::insertRun(const RunRecord& run, const RunSummary& summary)
{
    const QByteArray blob = packStrokes(run.strokes);
    QSqlDatabase db = connection();
    std::int64_t id = 0;
    {
        QSqlQuery q(db);
        q.prepare(QStringLiteral(
            "INSERT INTO runs (start_utc_ms, recording_time_ms, ran_to_end, stroke_count, result, device_type,"
            " device_name, device_line, midi_channel, midi_note, detector, ticks_per_second, dropped_events,"
            " strokes_per_minute, evenness_cv_percent, fatigue_percent, device_id,"
            " click_tempo_bpm, click_subdivision, click_beats_per_bar, click_bars_on, click_bars_off,"
            " click_grid_start_tick, click_latency_us, mean_offset_ms, within_10ms_percent, click_clock_ppm)"
            " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
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
        q.addBindValue(QString::fromStdString(run.device.id));
        const auto clickValue = [&run](auto field) {
            return run.click ? QVariant(field(*run.click)) : QVariant();
        };
        q.addBindValue(run.click ? QVariant(run.click->tempoBpm) : QVariant(QMetaType::fromType<double>()));
        q.addBindValue(clickValue([](const RunClick& c) { return c.subdivision; }));
        q.addBindValue(clickValue([](const RunClick& c) { return c.beatsPerBar; }));
        q.addBindValue(clickValue([](const RunClick& c) { return c.barsOn; }));
        q.addBindValue(clickValue([](const RunClick& c) { return c.barsOff; }));
        q.addBindValue(clickValue([](const RunClick& c) { return c.gridStartTick; }));
        q.addBindValue(clickValue([](const RunClick& c) { return c.latencyUs; }));
        q.addBindValue(nullable(summary.meanOffsetMs));
        q.addBindValue(nullable(summary.within10Percent));
        q.addBindValue(run.click && run.click->clockPpm != 0.0 ? QVariant(run.click->clockPpm)
                                                               : QVariant(QMetaType::fromType<double>()));
        if (!q.exec()) {
            fail(q.lastError());
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
            return std::nullopt;
        }
    }
    if (run.auditAttemptId > 0) {
        QSqlQuery q(db);
        q.prepare(QStringLiteral("INSERT INTO run_audits (run_id, attempt_id, digest) VALUES (?, ?, ?)"));
        q.addBindValue(QVariant::fromValue<qint64>(id));
        q.addBindValue(QVariant::fromValue<qint64>(run.auditAttemptId));
        q.addBindValue(QString::fromStdString(run.auditDigest));
        if (!q.exec()) {
            fail(q.lastError());
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
    std::optional<SqlTransaction> tx = beginWrite();
    if (!tx)
        return std::nullopt;
    const std::optional<std::int64_t> id = insertRun(run, summary);
    if (!id || !commit(*tx))
        return std::nullopt;
    clearProblem();
    return id;
}

std::optional<int> JournalDatabase::addImportedRuns(const std::vector<ImportedRun>& runs)
{
    std::optional<SqlTransaction> tx = beginWrite();
    if (!tx)
        return std::nullopt;
    QSqlDatabase db = connection();
    int added = 0;
    {
        QSqlQuery known(db), remember(db);
        known.prepare(QStringLiteral("SELECT 1 FROM imported_scores WHERE score_key = ?"));
        remember.prepare(QStringLiteral("INSERT INTO imported_scores (score_key, run_id) VALUES (?, ?)"));
        for (const ImportedRun& imported : runs) {
            known.addBindValue(imported.key);
            if (!known.exec()) {
                fail(known.lastError());
                return std::nullopt;
            }
            const bool seen = known.next();
            if (!seen && !finishedCleanly(known)) {
                fail(known.lastError());
                return std::nullopt;
            }
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
                return std::nullopt;
            }
            ++added;
        }
    }
    if (!commit(*tx))
        return std::nullopt;
    clearProblem();
    return added;
}

std::optional<int> JournalDatabase::countNewImports(const std::vector<ImportedRun>& runs)
{
    if (!isOpen())
        return std::nullopt;
    QSqlQuery known(connection());
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

bool JournalDatabase::setSummary(std::int64_t id, const RunSummary& summary)
{
    std::optional<SqlTransaction> tx = beginWrite();
    if (!tx)
        return false;
    bool updated = false;
    {
        QSqlQuery q(connection());
        q.prepare(QStringLiteral("UPDATE runs SET strokes_per_minute = ?, evenness_cv_percent = ?, fatigue_percent = ?,"
                                 " mean_offset_ms = ?, within_10ms_percent = ? WHERE id = ?"));
        q.addBindValue(nullable(summary.strokesPerMinute));
        q.addBindValue(nullable(summary.evennessCvPercent));
        q.addBindValue(nullable(summary.fatiguePercent));
        q.addBindValue(nullable(summary.meanOffsetMs));
        q.addBindValue(nullable(summary.within10Percent));
        q.addBindValue(QVariant::fromValue<qint64>(id));
        updated = q.exec() && q.numRowsAffected() == 1;
        if (!updated && q.lastError().isValid())
            fail(q.lastError());
    }
    return commit(*tx) && updated;
}

QString JournalDatabase::runColumns() const
{
    return kRunColumns + (m_version >= 2 ? kSummaryColumns : kNoSummaryColumns) +
           (m_version >= 4 ? kDeviceIdColumn : kNoDeviceIdColumn) + (m_version >= 5 ? kClickColumns : kNoClickColumns) +
           (m_version >= 7 ? kClockPpmColumn : kNoClockPpmColumn);
}

std::vector<JournalRun> JournalDatabase::listRuns(const RunFilter& filter)
{
    std::vector<JournalRun> runs;
    if (!isOpen())
        return runs;
    clearProblem();
    QString sql = QStringLiteral("SELECT ") + runColumns() + QStringLiteral(" FROM runs r WHERE 1");
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

    QSqlQuery q(connection());
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
    if (!finishedCleanly(q))
        fail(q.lastError());
    return runs;
}

std::optional<JournalRun> JournalDatabase::loadRun(std::int64_t id)
{
    if (!isOpen())
        return std::nullopt;
    clearProblem();
    QSqlQuery q(connection());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT ") + runColumns() +
              QStringLiteral(", s.data FROM runs r LEFT JOIN run_strokes s ON s.run_id = r.id WHERE r.id = ?"));
    q.addBindValue(QVariant::fromValue<qint64>(id));
    if (!q.exec()) {
        fail(q.lastError());
        return std::nullopt;
    }
    if (!q.next()) {
        if (!finishedCleanly(q))
            fail(q.lastError());
        return std::nullopt;
    }
    JournalRun j = rowToRun(q);
    const QVariant data = q.value(kStrokeDataColumn);
    q.finish();
    if (!data.isNull()) {
        auto strokes = unpackStrokes(data.toByteArray());
        if (strokes)
            j.run.strokes = std::move(*strokes);
        else
            fail(JournalProblem::Damaged, QStringLiteral("the strokes of run %1 cannot be read").arg(id));
    }
    if (schemaVersion() < kRunAuditsSchemaVersion)
        return j;
    QSqlQuery audit(connection());
    audit.setForwardOnly(true);
    audit.prepare(QStringLiteral("SELECT attempt_id, digest FROM run_audits WHERE run_id = ?"));
    audit.addBindValue(QVariant::fromValue<qint64>(id));
    if (!audit.exec()) {
        fail(audit.lastError());
        return j;
    }
    if (audit.next()) {
        j.run.auditAttemptId = audit.value(0).toLongLong();
        j.run.auditDigest = audit.value(1).toString().toStdString();
    } else if (!finishedCleanly(audit)) {
        fail(audit.lastError());
    }
    return j;
}

std::optional<int> JournalDatabase::addRunsOnce(const std::vector<JournalRun>& runs)
{
    std::optional<SqlTransaction> tx = beginWrite();
    if (!tx)
        return std::nullopt;
    QSqlDatabase db = connection();
    int added = 0;
    {
        QSqlQuery known(db);
        known.prepare(QStringLiteral("SELECT 1 FROM runs WHERE start_utc_ms = ? AND recording_time_ms = ?"
                                     " AND stroke_count = ? AND device_name = ? LIMIT 1"));
        for (const JournalRun& j : runs) {
            known.addBindValue(QVariant::fromValue<qint64>(j.run.startUtcMs));
            known.addBindValue(j.run.recordingTimeMs);
            known.addBindValue(j.run.count);
            known.addBindValue(QString::fromStdString(j.run.device.name));
            bool failed = !known.exec();
            const bool seen = !failed && known.next();
            failed = failed || !finishedCleanly(known);
            if (failed)
                fail(known.lastError());
            known.finish();
            if (failed || (!seen && !insertRun(j.run, j.summary)))
                return std::nullopt;
            added += seen ? 0 : 1;
        }
    }
    if (!commit(*tx))
        return std::nullopt;
    clearProblem();
    return added;
}

std::optional<int> JournalDatabase::deleteRuns(const std::vector<std::int64_t>& ids)
{
    std::optional<SqlTransaction> tx = beginWrite();
    if (!tx)
        return std::nullopt;
    QSqlDatabase db = connection();
    int deleted = 0;
    {
        // The attempt's own files in the audit folder stay: they are the
        // competition's record, not the journal's.
        QSqlQuery strokes(db), audits(db), runs(db);
        strokes.prepare(QStringLiteral("DELETE FROM run_strokes WHERE run_id = ?"));
        audits.prepare(QStringLiteral("DELETE FROM run_audits WHERE run_id = ?"));
        runs.prepare(QStringLiteral("DELETE FROM runs WHERE id = ?"));
        for (const std::int64_t id : ids) {
            strokes.addBindValue(QVariant::fromValue<qint64>(id));
            audits.addBindValue(QVariant::fromValue<qint64>(id));
            runs.addBindValue(QVariant::fromValue<qint64>(id));
            if (!strokes.exec() || !audits.exec() || !runs.exec()) {
                const QSqlError e = strokes.lastError().isValid() ? strokes.lastError()
                                    : audits.lastError().isValid() ? audits.lastError()
                                                                   : runs.lastError();
                fail(e);
                return std::nullopt;
            }
            deleted += runs.numRowsAffected();
        }
    }
    if (!commit(*tx))
        return std::nullopt;
    return deleted;
}

std::optional<std::int64_t> JournalDatabase::runOfAttempt(std::int64_t attemptId)
{
    if (!isOpen())
        return std::nullopt;
    clearProblem();
    QSqlQuery q(connection());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT run_id FROM run_audits WHERE attempt_id = ? ORDER BY run_id DESC LIMIT 1"));
    q.addBindValue(QVariant::fromValue<qint64>(attemptId));
    if (!q.exec()) {
        fail(q.lastError());
        return std::nullopt;
    }
    if (q.next())
        return q.value(0).toLongLong();
    if (!finishedCleanly(q))
        fail(q.lastError());
    return std::nullopt;
}

std::optional<std::int64_t> JournalDatabase::countRuns()
{
    if (!isOpen())
        return std::nullopt;
    QSqlQuery q(connection());
    if (!q.exec(QStringLiteral("SELECT count(*) FROM runs")) || !q.next()) {
        fail(q.lastError());
        return std::nullopt;
    }
    return q.value(0).toLongLong();
}
