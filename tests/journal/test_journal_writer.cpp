// The journal writer: runs are written off the caller's thread, and a journal
// that cannot take them keeps them in memory, says so and retries.
#include "QtTempFolder.h"
#include "TestRuns.h"
#include "journal/JournalWriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <gtest/gtest.h>

#include <unistd.h>

// Google Test rather than Qt Test here: Qt Test's watchdog thread, which
// ThreadSanitizer cannot see into, would be reported instead of our threads.
namespace {

// The SQLite driver is a plugin, found through the application object.
void ensureApplication()
{
    static int argc = 1;
    static char name[] = "test_journal_writer";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
}

class JournalWriterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ensureApplication();
        ASSERT_TRUE(m_dir.isValid());
    }
    QtTempFolder m_dir;
};

JournalWriter::Options options(const QString& path)
{
    JournalWriter::Options o;
    o.path = path;
    o.database.busyTimeoutMs = 50;
    o.retryIntervalMs = 60000; // tests retry by hand
    return o;
}

} // namespace

TEST_F(JournalWriterTest, TwoWritersOnOneJournalKeepEveryRunWithItsFigures)
{
    // Two running programs: each writer has its own connection and thread.
    const QString path = m_dir.filePath("ok/journal.sqlite");
    JournalWriter::Options o = options(path);
    o.database.busyTimeoutMs = 5000;
    JournalWriter a(o), b(o);
    QStringList announced;
    QObject::connect(&a, &JournalWriter::statusChanged, [&](const QString& text) { announced << text; });
    for (auto* w : {&a, &b})
        w->setSummaryHook([](const RunRecord& r) { return RunSummary{r.count * 1.0, std::nullopt, 1.5, std::nullopt, std::nullopt}; });
    EXPECT_FALSE(a.submit(audioRun(1, 0))) << "nothing counted: not journal material";
    for (int k = 0; k < 20; ++k) {
        ASSERT_TRUE(a.submit(audioRun(2 * k, 300 + k)));
        ASSERT_TRUE(b.submit(audioRun(2 * k + 1, 300 + k)));
    }
    ASSERT_TRUE(a.waitIdle(20000));
    EXPECT_TRUE(a.status().text().startsWith("Journal: ")) << a.status().text().toStdString();
    EXPECT_EQ(a.status().waitingRuns, 0);
    // The worker posts the line before it reports the attempt done.
    QCoreApplication::processEvents();
    ASSERT_FALSE(announced.isEmpty());
    EXPECT_EQ(announced.last(), a.status().text());
    EXPECT_EQ(a.finish(20000), 0);
    EXPECT_EQ(b.finish(20000), 0);

    JournalDatabase db(path);
    ASSERT_TRUE(db.open());
    const auto runs = db.listRuns();
    ASSERT_EQ(runs.size(), 40u);
    for (std::size_t k = 0; k < runs.size(); ++k) {
        EXPECT_EQ(runs[k].run.startUtcMs, static_cast<std::int64_t>(39 - k));
        EXPECT_EQ(runs[k].summary.strokesPerMinute, std::optional<double>(runs[k].run.count));
        EXPECT_FALSE(runs[k].summary.evennessCvPercent);
    }
    EXPECT_EQ(db.loadRun(a.status().lastRunId)->run.startUtcMs, 38) << "the last run a wrote";
}

TEST_F(JournalWriterTest, AnUnwritableFolderKeepsTheRunInMemoryUntilItCanBeWritten)
{
    // Root writes into read-only folders, so there a file stands where the
    // folder should be; either way the folder cannot take the journal.
    const QString folder = m_dir.filePath("ro");
    if (geteuid() == 0) {
        QFile blocker(folder);
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    } else {
        ASSERT_TRUE(QDir().mkpath(folder));
        ASSERT_TRUE(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
    }
    JournalWriter writer(options(folder + "/journal.sqlite"));
    ASSERT_TRUE(writer.submit(audioRun(1, 5)));
    ASSERT_TRUE(writer.waitIdle(10000));
    EXPECT_EQ(writer.status().text(), "Journal unavailable (read-only folder): this run is kept in memory and retried");
    ASSERT_TRUE(writer.submit(audioRun(2, 5)));
    ASSERT_TRUE(writer.waitIdle(10000));
    EXPECT_EQ(writer.status().waitingRuns, 2);

    if (geteuid() == 0)
        ASSERT_TRUE(QFile::remove(folder));
    else
        ASSERT_TRUE(QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    writer.retryNow();
    ASSERT_TRUE(writer.waitIdle(10000));
    EXPECT_EQ(writer.status().text(), "Journal: 2 runs kept");
}

TEST_F(JournalWriterTest, AJournalLockedByAnotherConnectionIsRetriedNeverCorrupted)
{
    const QString path = m_dir.filePath("locked/journal.sqlite");
    {
        JournalDatabase first(path);
        ASSERT_TRUE(first.open());
    }
    {
        auto other = QSqlDatabase::addDatabase("QSQLITE", "other");
        other.setDatabaseName(path);
        ASSERT_TRUE(other.open());
        QSqlQuery hold(other);
        ASSERT_TRUE(hold.exec("BEGIN IMMEDIATE"));

        JournalWriter writer(options(path));
        ASSERT_TRUE(writer.submit(audioRun(1, 1200)));
        ASSERT_TRUE(writer.waitIdle(10000));
        EXPECT_EQ(writer.status().problem, JournalProblem::Locked);
        EXPECT_EQ(writer.status().waitingRuns, 1);

        ASSERT_TRUE(hold.exec("COMMIT"));
        writer.retryNow();
        ASSERT_TRUE(writer.waitIdle(10000));
        EXPECT_EQ(writer.status().text(), "Journal: 1 run kept");

        // Locked again at close: finish waits its bounded time and says what
        // it could not write.
        ASSERT_TRUE(hold.exec("BEGIN IMMEDIATE"));
        ASSERT_TRUE(writer.submit(audioRun(2, 10)));
        EXPECT_EQ(writer.finish(2000), 1);
        ASSERT_TRUE(hold.exec("ROLLBACK"));
        ASSERT_TRUE(hold.exec("PRAGMA integrity_check") && hold.next());
        EXPECT_EQ(hold.value(0).toString(), "ok");
        hold = QSqlQuery();
        other.close();
    }
    QSqlDatabase::removeDatabase("other");
    JournalDatabase db(path);
    ASSERT_TRUE(db.open());
    EXPECT_EQ(db.countRuns(), std::optional<std::int64_t>(1));
    EXPECT_EQ(db.loadRun(db.listRuns().front().run.id)->run.strokes.size(), 1200u);
}

