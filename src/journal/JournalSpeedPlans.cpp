// The speed builder's plans in the journal: one row per plan played.
#include "journal/JournalDatabase.h"

#include "journal/SqlRows.h"
#include "journal/SqlTransaction.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

std::optional<std::int64_t> JournalDatabase::keepSpeedPlan(const SpeedPlanRecord& plan)
{
    std::optional<SqlTransaction> tx = beginWrite();
    if (!tx)
        return std::nullopt;
    std::int64_t id = plan.id;
    // Replacing the row in place: a write cut off leaves the plan as it was
    // kept last, never without it. Its start names it too, so a journal
    // started afresh meanwhile never has another plan overwritten.
    for (const bool replace : {true, false}) {
        if (replace && id == 0)
            continue;
        QSqlQuery q(connection());
        q.prepare(replace ? QStringLiteral("UPDATE speed_plans SET start_utc_ms = ?, start_bpm = ?, step_bpm = ?,"
                                           " target_bpm = ?, bars = ?, subdivision = ?, repetitions = ?,"
                                           " highest_clean_bpm = ?, reached_target = ?"
                                           " WHERE id = ? AND start_utc_ms = ?")
                          : QStringLiteral("INSERT INTO speed_plans (start_utc_ms, start_bpm, step_bpm, target_bpm,"
                                           " bars, subdivision, repetitions, highest_clean_bpm, reached_target)"
                                           " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"));
        q.addBindValue(QVariant::fromValue<qint64>(plan.startUtcMs));
        q.addBindValue(plan.startBpm);
        q.addBindValue(plan.stepBpm);
        q.addBindValue(plan.targetBpm);
        q.addBindValue(plan.bars);
        q.addBindValue(plan.subdivision);
        q.addBindValue(plan.repetitions);
        q.addBindValue(plan.highestCleanBpm ? QVariant(*plan.highestCleanBpm) : QVariant(QMetaType::fromType<double>()));
        q.addBindValue(plan.reachedTarget ? 1 : 0);
        if (replace) {
            q.addBindValue(QVariant::fromValue<qint64>(id));
            q.addBindValue(QVariant::fromValue<qint64>(plan.startUtcMs));
        }
        if (!q.exec()) {
            fail(q.lastError());
            return std::nullopt;
        }
        if (replace && q.numRowsAffected() > 0)
            break;
        if (!replace)
            id = q.lastInsertId().toLongLong();
    }
    if (!commit(*tx))
        return std::nullopt;
    clearProblem();
    return id;
}

std::vector<SpeedPlanRecord> JournalDatabase::listSpeedPlans()
{
    std::vector<SpeedPlanRecord> plans;
    if (!isOpen() || m_version < 5)
        return plans;
    clearProblem();
    QSqlQuery q(connection());
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT id, start_utc_ms, start_bpm, step_bpm, target_bpm, bars, subdivision,"
                               " repetitions, highest_clean_bpm, reached_target FROM speed_plans"
                               " ORDER BY start_utc_ms, id"))) {
        fail(q.lastError());
        return plans;
    }
    while (q.next()) {
        SpeedPlanRecord p;
        p.id = q.value(0).toLongLong();
        p.startUtcMs = q.value(1).toLongLong();
        p.startBpm = q.value(2).toDouble();
        p.stepBpm = q.value(3).toDouble();
        p.targetBpm = q.value(4).toDouble();
        p.bars = q.value(5).toInt();
        p.subdivision = q.value(6).toInt();
        p.repetitions = q.value(7).toInt();
        if (!q.value(8).isNull())
            p.highestCleanBpm = q.value(8).toDouble();
        p.reachedTarget = q.value(9).toInt() != 0;
        plans.push_back(p);
    }
    if (!finishedCleanly(q))
        fail(q.lastError());
    return plans;
}
