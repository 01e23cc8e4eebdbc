// The journal writer: runs are written off the caller's thread, and a journal
// that cannot take them keeps them in memory, says so and retries.
#include "JournalWriter.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

namespace {

RunRecord audioRun(std::int64_t startUtcMs, int strokes)
{
    RunRecord r;
    r.startUtcMs = startUtcMs;
    r.count = strokes;
    r.device = {1, "default", "Capture", 0, -1, 0};
    for (int k = 0; k < strokes; ++k)
        r.strokes.push_back({k * 2205LL, 0.5f, -1});
    return r;
}

JournalWriter::Options options(const QString& path)
{
    JournalWriter::Options o;
    o.path = path;
    o.database.busyTimeoutMs = 50;
    o.retryIntervalMs = 60000; // tests retry by hand
    return o;
}

} // namespace

class TestJournalWriter : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void writesRunsInOrderWithFiguresAndReportsThem()
    {
        const QString path = m_dir.filePath("ok/journal.sqlite");
        JournalWriter writer(options(path));
        QSignalSpy spy(&writer, &JournalWriter::statusChanged);
        writer.setSummaryHook([](const RunRecord& r) { return RunSummary{r.count * 1.0, std::nullopt, 1.5}; });
        QVERIFY(!writer.submit(audioRun(1, 0))); // nothing counted: not journal material
        for (int k = 1; k <= 3; ++k)
            QVERIFY(writer.submit(audioRun(k, 10 * k)));
        QVERIFY(writer.waitIdle(10000));
        QCOMPARE(writer.status().text(), QString("Journal: 3 runs kept"));
        QTRY_VERIFY(!spy.isEmpty() && spy.last().at(0).toString() == "Journal: 3 runs kept");
        QCOMPARE(writer.finish(1000), 0);

        JournalDatabase db(path);
        QVERIFY(db.open());
        const auto runs = db.listRuns();
        QCOMPARE(runs.size(), std::size_t{3});
        QCOMPARE(runs[0].run.count, 30);
        QCOMPARE(runs[0].run.id, writer.status().lastRunId);
        QCOMPARE(runs[0].summary.strokesPerMinute, std::optional<double>(30.0));
        QVERIFY(!runs[0].summary.evennessCvPercent);
    }

    void anUnwritableFolderKeepsTheRunInMemoryUntilItCanBeWritten()
    {
        // Root writes into read-only folders, so there a file stands where the
        // folder should be; either way the folder cannot take the journal.
        const QString folder = m_dir.filePath("ro");
        if (geteuid() == 0) {
            QFile blocker(folder);
            QVERIFY(blocker.open(QIODevice::WriteOnly));
        } else {
            QVERIFY(QDir().mkpath(folder));
            QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
        }
        JournalWriter writer(options(folder + "/journal.sqlite"));
        QVERIFY(writer.submit(audioRun(1, 5)));
        QVERIFY(writer.waitIdle(10000));
        QCOMPARE(writer.status().text(),
                 QString("Journal unavailable (read-only folder): this run is kept in memory and retried"));
        QVERIFY(writer.submit(audioRun(2, 5)));
        QVERIFY(writer.waitIdle(10000));
        QCOMPARE(writer.status().waitingRuns, 2);

        if (geteuid() == 0)
            QVERIFY(QFile::remove(folder));
        else
            QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        writer.retryNow();
        QVERIFY(writer.waitIdle(10000));
        QCOMPARE(writer.status().text(), QString("Journal: 2 runs kept"));
    }

    void aJournalLockedByAnotherConnectionIsRetriedNeverCorrupted()
    {
        const QString path = m_dir.filePath("locked/journal.sqlite");
        {
            JournalDatabase first(path);
            QVERIFY(first.open());
        }
        {
            auto other = QSqlDatabase::addDatabase("QSQLITE", "other");
            other.setDatabaseName(path);
            QVERIFY(other.open());
            QSqlQuery hold(other);
            QVERIFY(hold.exec("BEGIN IMMEDIATE"));

            JournalWriter writer(options(path));
            QVERIFY(writer.submit(audioRun(1, 1200)));
            QVERIFY(writer.waitIdle(10000));
            QCOMPARE(writer.status().problem, JournalProblem::Locked);
            QCOMPARE(writer.status().waitingRuns, 1);

            QVERIFY(hold.exec("COMMIT"));
            writer.retryNow();
            QVERIFY(writer.waitIdle(10000));
            QCOMPARE(writer.status().text(), QString("Journal: 1 run kept"));

            // Locked again at close: finish waits its bounded time and says
            // what it could not write.
            QVERIFY(hold.exec("BEGIN IMMEDIATE"));
            QVERIFY(writer.submit(audioRun(2, 10)));
            QCOMPARE(writer.finish(2000), 1);
            QVERIFY(hold.exec("ROLLBACK"));
            hold = QSqlQuery();
            QVERIFY(QSqlQuery(other).exec("PRAGMA integrity_check"));
            other.close();
        }
        QSqlDatabase::removeDatabase("other");
        JournalDatabase db(path);
        QVERIFY(db.open());
        QCOMPARE(db.countRuns(), std::optional<std::int64_t>(1));
        QCOMPARE(db.loadRun(db.listRuns().front().run.id)->run.strokes.size(), std::size_t{1200});
    }
};

QTEST_GUILESS_MAIN(TestJournalWriter)
#include "test_journal_writer.moc"
