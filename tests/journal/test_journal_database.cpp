// The journal database: runs come back exactly as written, and every bad
// file state ends safely with nothing deleted.
#include "FileBytes.h"
#include "QtTempFolder.h"
#include "QtTestPrograms.h"
#include "TestRuns.h"
#include "analysis/RunTiming.h"
#include "journal/JournalDatabase.h"
#include "journal/JournalSchema.h"
#include "journal/JournalSummary.h"
#include "journal/SqlTransaction.h"
#include "journal/StrokeBlob.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace {

// A run with every field the journal keeps off its default, and strokes
// whose ticks need more than 32 bits, of many levels and notes.
RunRecord storedRun(std::int64_t startUtcMs, int strokes)
{
    RunRecord r = midiRun(startUtcMs, strokes);
    r.recordingTimeMs = 60000;
    r.ranToEnd = true;
    r.result = RunResult::Record;
    r.droppedEvents = 3;
    for (int k = 0; k < strokes; ++k)
        r.strokes[k] = {std::int64_t{1} << 40 | (k * 500'000LL), (k % 127 + 1) / 127.0f, 36 + k % 12};
    return r;
}

bool sameStrokes(const std::vector<StrokeEvent>& a, const std::vector<StrokeEvent>& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t k = 0; k < a.size(); ++k)
        if (a[k].tick != b[k].tick || std::memcmp(&a[k].level, &b[k].level, 4) != 0 || a[k].note != b[k].note)
            return false;
    return true;
}

RunFilter ofRecordingTime(std::int32_t ms)
{
    RunFilter f;
    f.recordingTimeMs = ms;
    return f;
}

// Counts a table's rows through a connection of its own.
int rowCount(const QString& file, const char* table)
{
    int n = -1;
    {
        auto raw = QSqlDatabase::addDatabase("QSQLITE", "count");
        raw.setDatabaseName(file);
        QSqlQuery q(raw);
        if (raw.open() && q.exec(QString("SELECT count(*) FROM %1").arg(table)) && q.next())
            n = q.value(0).toInt();
    }
    QSqlDatabase::removeDatabase("count");
    return n;
}

} // namespace

class TestJournalDatabase : public QObject {
    Q_OBJECT
    QtTempFolder m_dir;
    QString path(const char* name = "journal.sqlite") const { return m_dir.filePath(QString::fromLatin1(name)); }

private slots:
    void defaultPathFollowsXdgDataHome()
    {
        const QByteArray saved = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir.path()));
        const QString got = JournalDatabase::defaultPath();
        qputenv("XDG_DATA_HOME", saved);
        QCOMPARE(got, m_dir.path() + "/Tempovaro/journal.sqlite");
    }

    void strokesPackExactlyCompactlyAndRejectDamage()
    {
        // Audio at extreme ticks, levels that only survive bit for bit.
        std::vector<StrokeEvent> audio = {{0, 0.0f, -1},
                                          {std::numeric_limits<std::int64_t>::max(), 1e-38f, -1},
                                          {std::numeric_limits<std::int64_t>::min(), -0.0f, -1},
                                          {-1, std::numeric_limits<float>::infinity(), -1},
                                          {44100, 0.1f, -1}};
        const auto back = unpackStrokes(packStrokes(audio));
        QVERIFY(back && sameStrokes(*back, audio));
        // One MIDI note among audio strokes is kept with the others' -1.
        std::vector<StrokeEvent> mixed = {{5, 0.5f, -1}, {6, 0.5f, 127}};
        QVERIFY(sameStrokes(*unpackStrokes(packStrokes(mixed)), mixed));

        // 60 s at 20 strokes per second.
        std::vector<StrokeEvent> minute;
        for (int k = 0; k < 1200; ++k)
            minute.push_back({1000 * kMidiTicksPerSecond + k * 500'000LL, 0.8f, 38});
        const QByteArray blob = packStrokes(minute);
        QVERIFY2(blob.size() < 12000, qPrintable(QString::number(blob.size())));

        // Every truncation and a trailing byte are refused, never misread.
        for (qsizetype n = 0; n < 40; ++n)
            QVERIFY(!unpackStrokes(blob.left(n)));
        QVERIFY(!unpackStrokes(blob.left(blob.size() - 1)));
        QVERIFY(!unpackStrokes(blob + '\0'));
    }

    void runsRoundTripListFilterAndDelete()
    {
        JournalDatabase db(path());
        QVERIFY(db.open());
        RunRecord audio;
        audio.startUtcMs = 1'700'000'000'000;
        audio.count = 2;
        audio.device = {DeviceType::Audio, "USB Audio", "Mic", 0, -1, AudioDetector::Fast, ""};
        audio.strokes = {{0, 0.25f, -1}, {std::numeric_limits<std::int64_t>::max(), 0.5f, -1}};
        const auto audioId = db.addRun(audio);
        const auto midiId = db.addRun(storedRun(audio.startUtcMs + 1000, 1200));
        const auto olderId = db.addRun(storedRun(audio.startUtcMs - 86'400'000, 3));
        QVERIFY(audioId && midiId && olderId);

        const auto loaded = db.loadRun(*midiId);
        QVERIFY(loaded);
        const RunRecord expected = storedRun(audio.startUtcMs + 1000, 1200);
        const RunRecord& got = loaded->run;
        QCOMPARE(got.id, *midiId);
        QVERIFY(sameStrokes(got.strokes, expected.strokes));
        QCOMPARE(got.device.name, expected.device.name);
        QCOMPARE(got.device.channel, 10);
        QCOMPARE(got.device.note, 38);
        QCOMPARE(got.result, RunResult::Record);
        QCOMPARE(got.recordingTimeMs, 60000);
        QVERIFY(got.ranToEnd);
        QCOMPARE(got.droppedEvents, std::uint64_t{3});
        QCOMPARE(got.ticksPerSecond, kMidiTicksPerSecond);
        QVERIFY(!loaded->summary.strokesPerMinute);
        const auto audioBack = db.loadRun(*audioId);
        QVERIFY(sameStrokes(audioBack->run.strokes, audio.strokes));
        QCOMPARE(audioBack->run.recordingTimeMs, -1);
        QCOMPARE(audioBack->run.device.detector, AudioDetector::Fast);

        auto list = db.listRuns();
        QCOMPARE(list.size(), std::size_t{3});
        QCOMPARE(list[0].run.id, *midiId); // newest first
        QCOMPARE(list[2].run.id, *olderId);
        QVERIFY(list[0].run.strokes.empty());
        QCOMPARE(db.listRuns(ofRecordingTime(-1)).size(), std::size_t{1});
        RunFilter day;
        day.fromUtcMs = audio.startUtcMs;
        day.untilUtcMs = audio.startUtcMs + 1000;
        list = db.listRuns(day);
        QVERIFY(list.size() == 1 && list[0].run.id == *audioId);

        QVERIFY(db.setSummary(*midiId, {120.0, 4.5, std::nullopt, std::nullopt, std::nullopt}));
        QCOMPARE(db.loadRun(*midiId)->summary.strokesPerMinute, std::optional<double>(120.0));
        QVERIFY(!db.loadRun(*midiId)->summary.fatiguePercent);

        // A competition attempt's run names its audit record both ways; a
        // deleted run leaves no link behind.
        RunRecord attempt = storedRun(audio.startUtcMs + 2000, 1187);
        attempt.auditAttemptId = 42;
        attempt.auditDigest = "9f86d081884c7d65";
        const auto attemptId = db.addRun(attempt);
        QVERIFY(attemptId);
        QCOMPARE(db.loadRun(*attemptId)->run.auditAttemptId, std::int64_t{42});
        QCOMPARE(db.loadRun(*attemptId)->run.auditDigest, attempt.auditDigest);
        QCOMPARE(db.loadRun(*midiId)->run.auditAttemptId, std::int64_t{0});
        QCOMPARE(db.runOfAttempt(42), attemptId);
        QVERIFY(!db.runOfAttempt(43));

        QCOMPARE(db.deleteRuns({*midiId, *olderId, *attemptId, 999}), std::optional<int>(3));
        QCOMPARE(db.countRuns(), std::optional<std::int64_t>(1));
        QVERIFY(!db.loadRun(*midiId));
        QVERIFY(!db.runOfAttempt(42));
    }

    void aFileThatIsNotADatabaseIsMovedAsideNeverDeleted()
    {
        JournalDatabase::Options told;
        told.moveAsideDamaged = true;
        const QByteArray junk = "Tempovaro scores, not a journal\n";
        for (const char* expected : {"journal.sqlite.bak", "journal.sqlite.bak1"}) {
            QVERIFY(writeBytes(path(), junk));
            JournalDatabase untold(path());
            QVERIFY(!untold.open());
            QCOMPARE(untold.problem(), JournalProblem::Damaged);
            JournalDatabase db(path());
            QVERIFY(db.open(told));
            QCOMPARE(db.movedAsideTo(), path(expected));
            QCOMPARE(fileBytes(path(expected)), junk);
            QVERIFY(db.addRun(storedRun(1, 2)));
        }
        // A good header over garbage is found by SQLite and moved aside too.
        QByteArray damaged = fileBytes(path()).left(100) + QByteArray(8192, '\x5a');
        QFile::remove(path());
        QFile::remove(path() + "-wal");
        QFile::remove(path() + "-shm");
        QVERIFY(writeBytes(path(), damaged));
        JournalDatabase db(path());
        QVERIFY(db.open(told));
        QCOMPARE(db.movedAsideTo(), path("journal.sqlite.bak2"));
        QCOMPARE(fileBytes(db.movedAsideTo()), damaged);
        QCOMPARE(db.countRuns(), std::optional<std::int64_t>(0));
    }

    void aNewerJournalIsReadButNeverWrittenOrDowngraded()
    {
        {
            JournalDatabase db(path("newer.sqlite"));
            QVERIFY(db.open());
            QVERIFY(db.addRun(storedRun(5, 4)));
        }
        {
            auto raw = QSqlDatabase::addDatabase("QSQLITE", "raw");
            raw.setDatabaseName(path("newer.sqlite"));
            QVERIFY(raw.open());
            QVERIFY(QSqlQuery(raw).exec(QString("PRAGMA user_version = %1").arg(kJournalSchemaVersion + 1)));
            raw.close();
        }
        QSqlDatabase::removeDatabase("raw");
        const QByteArray before = fileBytes(path("newer.sqlite"));

        JournalDatabase db(path("newer.sqlite"));
        QVERIFY(db.open());
        QVERIFY(db.isReadOnly());
        QCOMPARE(db.problem(), JournalProblem::NewerSchema);
        QCOMPARE(db.countRuns(), std::optional<std::int64_t>(1));
        QVERIFY(!db.addRun(storedRun(6, 4)));
        QVERIFY(!db.deleteRuns({1}));
        QCOMPARE(db.schemaVersion(), kJournalSchemaVersion + 1);
        db.close();
        QCOMPARE(fileBytes(path("newer.sqlite")), before);
    }

    void aFullDiskLeavesNoPartOfTheRun()
    {
        JournalDatabase db(path("full.sqlite"));
        JournalDatabase::Options small;
        small.maxPageCount = 12;
        QVERIFY(db.open(small));
        QVERIFY(db.addRun(storedRun(1, 10)));
        QVERIFY(!db.addRun(storedRun(2, 18000)));
        QCOMPARE(db.problem(), JournalProblem::DiskFull);
        QCOMPARE(db.countRuns(), std::optional<std::int64_t>(1));
        QCOMPARE(rowCount(db.path(), "run_strokes"), 1);
        QVERIFY(db.addRun(storedRun(3, 10)));
        QCOMPARE(db.listRuns().front().run.startUtcMs, std::int64_t{3});
    }

    void aFirstVersionJournalIsMigratedKeepingItsRuns()
    {
        const QByteArray blob = packStrokes(storedRun(0, 5).strokes);
        {
            auto raw = QSqlDatabase::addDatabase("QSQLITE", "v1");
            raw.setDatabaseName(path("v1.sqlite"));
            QVERIFY(raw.open());
            QVERIFY(migrateJournal(raw, 1));
            QCOMPARE(journalSchemaVersion(raw), 1);
            QSqlQuery q(raw);
            QVERIFY(q.exec("INSERT INTO runs VALUES (7, 1234, 30000, 0, 5, 0, 2, 'Pad', '', 0, -1, 0, 10000000, 0)"));
            q.prepare("INSERT INTO run_strokes VALUES (7, ?)");
            q.addBindValue(blob);
            QVERIFY(q.exec());
            q = QSqlQuery();
            raw.close();
        }
        QSqlDatabase::removeDatabase("v1");

        // Read-only, the old journal is read as it is.
        JournalDatabase old(path("v1.sqlite"));
        JournalDatabase::Options readOnly;
        readOnly.readOnly = true;
        QVERIFY(old.open(readOnly));
        JournalDatabase none(path("none.sqlite"));
        QVERIFY(!none.open(readOnly));
        QCOMPARE(none.problem(), JournalProblem::Missing);
        QVERIFY(!QFile::exists(path("none.sqlite")));
        QCOMPARE(old.schemaVersion(), 1);
        QCOMPARE(old.listRuns().size(), std::size_t{1});
        QVERIFY(old.loadRun(7) && old.problem() == JournalProblem::None);
        old.close();

        JournalDatabase db(path("v1.sqlite"));
        QVERIFY(db.open());
        QCOMPARE(db.schemaVersion(), kJournalSchemaVersion);
        const auto run = db.loadRun(7);
        QVERIFY(run && run->run.recordingTimeMs == 30000 && !run->summary.evennessCvPercent && !run->run.click);
        QVERIFY(sameStrokes(run->run.strokes, storedRun(0, 5).strokes));
        QVERIFY(db.listSpeedPlans().empty());
        QVERIFY(db.keepSpeedPlan(SpeedPlanRecord{0, 1, 100.0, 4.0, 120.0, 4, 1, 1, 100.0, false}));
        QVERIFY(db.setSummary(7, {100.0, 2.0, -5.0, std::nullopt, std::nullopt}));
        QCOMPARE(db.listRuns(ofRecordingTime(30000)).front().summary.fatiguePercent, std::optional<double>(-5.0));
    }

    // A run with the click keeps its grid, so its strokes time again to the
    // same figures the table lists; a stored click that cannot make a grid
    // leaves a run with a count.
    void aRunsClickIsKeptAndItsStrokesTimeAgain()
    {
        RunRecord r = storedRun(5000, 0);
        RunClick click{120.0, 2, 4, 2, 1, 3.0e9, 1250};
        r.click = click;
        // Eighths at 120 BPM from 300 s on the 100 ns clock; every third stroke 15 ms late, the rest 4 ms early.
        for (int k = 0; k < 24; ++k)
            r.strokes.push_back({3'000'000'000LL + k * 2'500'000LL + (k % 3 == 0 ? 150'000 : -40'000), 0.5f, 38});
        r.count = 24;
        JournalDatabase db(path("click.sqlite"));
        QVERIFY(db.open());
        db.setSummaryHook(&summarizeRun);
        const auto id = db.addRun(r);
        QVERIFY(id);
        const auto listed = db.listRuns().front();
        QCOMPARE(listed.run.click, std::optional<RunClick>(click));
        QVERIFY(listed.summary.meanOffsetMs && listed.summary.within10Percent);
        QVERIFY(std::abs(*listed.summary.meanOffsetMs - (8 * 15.0 - 16 * 4.0) / 24) < 1e-9);
        QVERIFY(std::abs(*listed.summary.within10Percent - 200.0 / 3) < 1e-9);
        const auto loaded = db.loadRun(*id);
        QVERIFY(loaded);
        const auto timing = analyzeRunTiming(loaded->run);
        QVERIFY(timing && timing->figures.all.meanMs == listed.summary.meanOffsetMs);
        QCOMPARE(timing->figures.missedGridPoints, 0);
        // A click on another card's clock keeps how far the two ran apart.
        r.click->clockPpm = -123.5;
        const auto drifted = db.addRun(r);
        QVERIFY(drifted);
        QCOMPARE(db.loadRun(*drifted)->run.click, r.click);

        {
            auto raw = QSqlDatabase::addDatabase("QSQLITE", "damage");
            raw.setDatabaseName(path("click.sqlite"));
            QVERIFY(raw.open());
            QVERIFY(QSqlQuery(raw).exec(QString("UPDATE runs SET click_subdivision = 0 WHERE id = %1").arg(*id)));
            QVERIFY(QSqlQuery(raw).exec(QString("UPDATE runs SET click_clock_ppm = 1e9 WHERE id = %1").arg(*drifted)));
        }
        QSqlDatabase::removeDatabase("damage");
        const auto damaged = db.loadRun(*id);
        QVERIFY(damaged && !damaged->run.click && damaged->run.strokes.size() == 24);
        QVERIFY(!db.loadRun(*drifted)->run.click);
    }

    // Speed-builder plans come back oldest first, a plan that passed nothing
    // without a tempo; an older journal has none and gains the table. A plan
    // kept again as it goes on replaces its row; one whose row has gone (or
    // whose id names another plan) is added anew.
    void speedPlansAreKeptWithTheirHighestCleanTempo()
    {
        JournalDatabase db(path("plans.sqlite"));
        QVERIFY(db.open());
        SpeedPlanRecord later{0, 9000, 100.0, 4.0, 140.0, 4, 4, 7, 128.0, false};
        SpeedPlanRecord earlier{0, 2000, 90.0, 2.5, 95.0, 2, 2, 3, std::nullopt, false};
        QVERIFY(db.keepSpeedPlan(later) && db.keepSpeedPlan(earlier));
        const auto plans = db.listSpeedPlans();
        QCOMPARE(plans.size(), std::size_t{2});
        QCOMPARE(plans[0].startUtcMs, 2000);
        QVERIFY(!plans[0].highestCleanBpm);
        QCOMPARE(plans[1].highestCleanBpm, std::optional<double>(128.0));
        QCOMPARE(plans[1].stepBpm, 4.0);
        QCOMPARE(plans[1].repetitions, 7);

        SpeedPlanRecord going = plans[1];
        going.repetitions = 8;
        going.highestCleanBpm = 132.0;
        QCOMPARE(db.keepSpeedPlan(going), std::optional<std::int64_t>(going.id));
        SpeedPlanRecord stranger = plans[0];
        stranger.startUtcMs = 2001;
        const auto added = db.keepSpeedPlan(stranger);
        QVERIFY(added && *added != plans[0].id);
        const auto kept = db.listSpeedPlans();
        QCOMPARE(kept.size(), std::size_t{3});
        QCOMPARE(kept[2].highestCleanBpm, std::optional<double>(132.0));
        QCOMPARE(kept[2].repetitions, 8);
    }

    // Every write of the journal relies on this: an early return rolls back,
    // and a refused commit is reported, never taken for done.
    void aTransactionRollsBackUnlessCommitted()
    {
        {
            auto raw = QSqlDatabase::addDatabase("QSQLITE", "tx");
            raw.setDatabaseName(":memory:");
            QVERIFY(raw.open());
            QSqlQuery q(raw);
            QVERIFY(q.exec("PRAGMA foreign_keys = ON"));
            QVERIFY(q.exec("CREATE TABLE parent (id INTEGER PRIMARY KEY)"));
            // A deferred key is checked only at COMMIT, which then fails and
            // leaves the transaction open.
            QVERIFY(q.exec("CREATE TABLE child (parent_id INTEGER REFERENCES parent (id)"
                           " DEFERRABLE INITIALLY DEFERRED)"));
            const auto rows = [&raw] {
                QSqlQuery c(raw);
                return c.exec("SELECT (SELECT count(*) FROM parent) + (SELECT count(*) FROM child)") && c.next()
                           ? c.value(0).toInt()
                           : -1;
            };

            {
                SqlTransaction tx(raw);
                QVERIFY(tx.isActive());
                QVERIFY(q.exec("INSERT INTO parent VALUES (1)"));
                // One inside another cannot begin, and must not commit the outer one.
                SqlTransaction nested(raw);
                QVERIFY(!nested.isActive() && nested.lastError().isValid());
                QVERIFY(!nested.commit());
                QCOMPARE(rows(), 1);
            }
            QCOMPARE(rows(), 0);

            {
                SqlTransaction tx(raw);
                QVERIFY(q.exec("INSERT INTO parent VALUES (2)"));
                QVERIFY(tx.commit());
                QVERIFY(!tx.isActive());
            }
            QCOMPARE(rows(), 1);

            {
                SqlTransaction tx(raw);
                QVERIFY(q.exec("INSERT INTO child VALUES (99)"));
                QVERIFY(!tx.commit());
                QVERIFY(tx.lastError().text().contains("FOREIGN KEY"));
                QVERIFY(tx.isActive());
            }
            QCOMPARE(rows(), 1);
            QVERIFY(SqlTransaction(raw).isActive()); // the failed one was ended
            q = QSqlQuery();
        }
        QSqlDatabase::removeDatabase("tx");
    }
};

TEMPOVARO_QTEST(TestJournalDatabase)
#include "test_journal_database.moc"
