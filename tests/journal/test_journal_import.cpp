// Bringing a score file into the journal: each score once, a damaged file
// left exactly as it was, and the journal of the previous version migrated
// to hold the imported keys.
#include "FileBytes.h"
#include "QtTempFolder.h"
#include "QtTestPrograms.h"
#include "journal/JournalDatabase.h"
#include "journal/JournalImport.h"
#include "journal/JournalSchema.h"

#include <QDateTime>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>
#include <QtEndian>

#include <bit>
#include <cstring>

namespace {

const QTimeZone kBerlin("Europe/Berlin");

// A local wall-clock moment as a score date.
double scoreDate(const QDateTime& local)
{
    const double days = static_cast<double>(QDate(1899, 12, 30).daysTo(local.date()));
    return days + local.time().msecsSinceStartOfDay() / 86400000.0;
}

QByteArray scoreFile(const std::vector<TQX_Score>& scores)
{
    QByteArray bytes(16000, '\0');
    for (std::size_t k = 0; k < scores.size(); ++k) {
        char* slot = bytes.data() + k * 16;
        qToLittleEndian<qint32>(scores[k].Strokes, slot);
        qToLittleEndian<qint32>(scores[k].Seconds, slot + 4);
        qToLittleEndian<quint64>(std::bit_cast<quint64>(scores[k].Date), slot + 8);
    }
    return bytes;
}

} // namespace

class TestJournalImport : public QObject {
    Q_OBJECT
    QtTempFolder m_dir;
    QString path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }

    const std::vector<TQX_Score> m_scores = {
        {212, 30, scoreDate(QDateTime(QDate(2026, 3, 29), QTime(23, 45, 30), kBerlin))},
        {400, 60, scoreDate(QDateTime(QDate(2026, 1, 5), QTime(8, 0), kBerlin))},
        {75, 10, scoreDate(QDateTime(QDate(2025, 10, 26), QTime(2, 30), kBerlin))}, // the repeated autumn hour
    };

private slots:
    void scoreDatesAreTheDrummersLocalTime()
    {
        // 23:45:30 in Berlin summer time is 21:45:30 UTC; the run began its
        // 30 s before the score was taken.
        const std::int64_t end = QDateTime(QDate(2026, 3, 29), QTime(21, 45, 30), QTimeZone::utc()).toMSecsSinceEpoch();
        QCOMPARE(scoreDateToUtcMs(m_scores[0].Date, kBerlin), end);
        const ImportedRun run = importedRunFromScore(m_scores[0], kBerlin);
        QCOMPARE(run.run.startUtcMs, end - 30000);
        QCOMPARE(run.run.recordingTimeMs, 30000);
        QCOMPARE(run.run.result, RunResult::Finished);
        QVERIFY(run.run.strokes.empty());
        QCOMPARE(run.summary.strokesPerMinute, std::optional<double>(424.0));
        // 02:30 on the morning the clocks sprang forward never happened:
        // still a valid moment, next to the change.
        const double gap = scoreDate(QDateTime(QDate(2026, 3, 29), QTime(2, 30), QTimeZone::utc()));
        const std::int64_t springUtc = QDateTime(QDate(2026, 3, 29), QTime(1, 0), QTimeZone::utc()).toMSecsSinceEpoch();
        QVERIFY(qAbs(scoreDateToUtcMs(gap, kBerlin) - springUtc) <= 3'600'000);
    }

    void aScoreFileIsImportedOnceEvenReorderedOrAfterADelete()
    {
        const QString file = path("Tempovaro.qxs");
        QVERIFY(writeBytes(file, scoreFile(m_scores)));
        JournalDatabase db(path("once.sqlite"));
        QVERIFY(db.open());

        ScoreImport first = importScoreFile(db, file, kBerlin);
        QCOMPARE(first.outcome, ScoreImport::Outcome::Imported);
        QCOMPARE(first.added, 3);
        const auto runs = db.listRuns();
        QCOMPARE(runs.size(), std::size_t{3});
        QCOMPARE(runs.front().run.count, 212); // newest first
        QCOMPARE(runs.back().run.recordingTimeMs, 10000);

        QCOMPARE(importScoreFile(db, file, kBerlin).added, 0);
        // The score list sorted by strokes stores another order: still the same scores.
        QVERIFY(writeBytes(file, scoreFile({m_scores[1], m_scores[0], m_scores[2]})));
        QCOMPARE(importScoreFile(db, file, kBerlin).added, 0);
        // A run the drummer deleted stays deleted; a new score comes in.
        QCOMPARE(db.deleteRuns({runs.front().run.id}), std::optional<int>(1));
        auto grown = m_scores;
        grown.push_back({180, 30, m_scores[0].Date + 1.0});
        QVERIFY(writeBytes(file, scoreFile(grown)));
        first = importScoreFile(db, file, kBerlin);
        QCOMPARE(first.scores, 4);
        QCOMPARE(first.added, 1);
        QCOMPARE(db.countRuns(), std::optional<std::int64_t>(3));
    }

    void recordsArriveAsRecordsAndThePreviewCountsOnlyNewScores()
    {
        // A score list sorted by strokes, as the drummer may have left it:
        // records are judged in the order the scores were played.
        const auto at = [](int day) { return scoreDate(QDateTime(QDate(2026, 5, day), QTime(18, 0), kBerlin)); };
        const std::vector<TQX_Score> scores = {
            {210, 30, at(3)}, {210, 30, at(4)}, {200, 30, at(1)}, {190, 30, at(2)}, {100, 60, at(5)}, {0, 10, at(6)}};
        const std::vector<ImportedRun> runs = importedRunsFromScores(scores, kBerlin);
        QStringList results;
        for (const ImportedRun& r : runs)
            results << QString::fromLatin1(runResultName(r.run.result));
        // Equal to the best is no record, and neither is a count of 0.
        QCOMPARE(results, QStringList({"Record", "Finished", "Record", "Finished", "Record", "Finished"}));

        const QString file = path("records.qxs");
        QVERIFY(writeBytes(file, scoreFile(scores)));
        JournalDatabase db(path("records.sqlite"));
        QVERIFY(db.open());
        QCOMPARE(previewScoreImport(db, file, kBerlin).added, 6);
        QCOMPARE(db.countRuns(), std::optional<std::int64_t>(0)); // a preview writes nothing
        QCOMPARE(importScoreFile(db, file, kBerlin).added, 6);
        std::vector<std::int64_t> ids;
        for (const JournalRun& j : db.listRuns())
            ids.push_back(j.run.id);
        QCOMPARE(db.deleteRuns(ids), std::optional<int>(6));
        // Emptied by hand: nothing is left to bring in, so nothing is offered.
        const ScoreImport again = previewScoreImport(db, file, kBerlin);
        QCOMPARE(again.outcome, ScoreImport::Outcome::Imported);
        QCOMPARE(again.scores, 6);
        QCOMPARE(again.added, 0);
    }

    void aDamagedOrMissingScoreFileImportsNothingAndStaysAsItWas()
    {
        JournalDatabase db(path("damaged.sqlite"));
        QVERIFY(db.open());
        const QByteArray whole = scoreFile(m_scores);
        QByteArray badTime = whole;
        qToLittleEndian<qint32>(45, badTime.data() + 16 + 4);
        QByteArray badDate = whole;
        const double nan = std::numeric_limits<double>::quiet_NaN();
        qToLittleEndian<quint64>(std::bit_cast<quint64>(nan), badDate.data() + 32 + 8);
        QByteArray negative = whole;
        qToLittleEndian<qint32>(-3, negative.data());
        const QList<QByteArray> damaged = {whole.left(15990), badTime, badDate, negative, QByteArray()};
        for (const QByteArray& bytes : damaged) {
            const QString file = path("bad.qxs");
            QVERIFY(writeBytes(file, bytes));
            const ScoreImport result = importScoreFile(db, file, kBerlin);
            QCOMPARE(result.outcome, ScoreImport::Outcome::Damaged);
            QCOMPARE(fileBytes(file), bytes);
            QVERIFY(!QFile::exists(file + ".bak"));
        }
        QCOMPARE(db.countRuns(), std::optional<std::int64_t>(0));
        QCOMPARE(importScoreFile(db, path("absent.qxs"), kBerlin).outcome, ScoreImport::Outcome::NoFile);
        QVERIFY(writeBytes(path("empty.qxs"), scoreFile({})));
        QCOMPARE(importScoreFile(db, path("empty.qxs"), kBerlin).outcome, ScoreImport::Outcome::NoFile);
        // Bytes past the 16,000 the program reads are no damage.
        QVERIFY(writeBytes(path("long.qxs"), whole + "tail"));
        QCOMPARE(importScoreFile(db, path("long.qxs"), kBerlin).added, 3);
    }

    void aJournalOfThePreviousVersionIsMigratedAndImportsIntoIt()
    {
        {
            auto raw = QSqlDatabase::addDatabase("QSQLITE", "v2");
            raw.setDatabaseName(path("v2.sqlite"));
            QVERIFY(raw.open());
            QVERIFY(migrateJournal(raw, 2));
            QCOMPARE(journalSchemaVersion(raw), 2);
            QSqlQuery q(raw);
            QVERIFY(q.exec("INSERT INTO runs VALUES (5, 1234, 30000, 1, 99, 1, 1, 'Mic', 'Capture', 0, -1, 0,"
                           " 44100, 0, 198.0, 3.5, NULL)"));
            QVERIFY(!q.exec("SELECT * FROM imported_scores"));
            q = QSqlQuery();
            raw.close();
        }
        QSqlDatabase::removeDatabase("v2");

        JournalDatabase db(path("v2.sqlite"));
        QVERIFY(db.open());
        QCOMPARE(db.schemaVersion(), kJournalSchemaVersion);
        const auto old = db.loadRun(5);
        QVERIFY(old && old->run.count == 99 && old->summary.evennessCvPercent == 3.5);
        QVERIFY(writeBytes(path("v2.qxs"), scoreFile(m_scores)));
        QCOMPARE(importScoreFile(db, path("v2.qxs"), kBerlin).added, 3);
        QCOMPARE(importScoreFile(db, path("v2.qxs"), kBerlin).added, 0);
        QCOMPARE(db.countRuns(), std::optional<std::int64_t>(4));
    }
};

TEMPOVARO_QTEST(TestJournalImport)
#include "test_journal_import.moc"
