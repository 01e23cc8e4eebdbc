// The journal against what goes wrong around it: other programs opening and
// closing it, damaged pages, readers that must leave every file as it is,
// and names under which something other than a file stands.
#include "FileBytes.h"
#include "QtTempFolder.h"
#include "TestRuns.h"
#include "journal/JournalDatabase.h"
#include "journal/JournalWriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

#include <cstring>
#include <iostream>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// A second program that opens the journal read-write, reads and closes it:
// the sqlite3 shell, a script, another Tempovaro. Prints the runs it sees.
int touchJournal(const QString& path)
{
    int runs = -1;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
        db.setDatabaseName(path);
        QSqlQuery q(db);
        if (db.open() && q.exec(QStringLiteral("SELECT count(*) FROM runs")) && q.next())
            runs = q.value(0).toInt();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("other"));
    std::printf("%d\n", runs);
    return runs < 0 ? 1 : 0;
}

// The drummer's Tempovaro: a run per line on stdin, each written, then the
// journal window's connection opened and closed, as a reader's is; the
// round's number on stdout once done. Runs until killed.
int writeRuns(const QString& path)
{
    JournalWriter::Options options;
    options.path = path;
    JournalWriter writer(options);
    std::string line;
    for (int round = 1; std::getline(std::cin, line); ++round) {
        if (!writer.submit(audioRun(round * 1000)) || !writer.waitIdle(10000))
            return 1;
        JournalDatabase window(path);
        JournalDatabase::Options reader;
        reader.readOnly = true;
        JournalDatabase tool(path);
        if (!window.open() || !tool.open(reader))
            return 1;
        window.close();
        tool.close();
        std::printf("%d\n", round);
        std::fflush(stdout);
    }
    return 0;
}

int runsSeenByAnotherProgram(const QString& path)
{
    QProcess other;
    other.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--touch-journal"), path});
    if (!other.waitForFinished(20000) || other.exitCode() != 0)
        return -1;
    return other.readAllStandardOutput().trimmed().toInt();
}

// Every name in the folder with its size and change time.
QStringList folderState(const QString& folder)
{
    QStringList state;
    for (const QFileInfo& f : QDir(folder).entryInfoList(QDir::Files | QDir::System | QDir::NoDotAndDotDot,
                                                           QDir::Name)) {
        struct stat st {};
        ::lstat(QFile::encodeName(f.filePath()).constData(), &st);
        state << QStringLiteral("%1 %2 %3.%4")
                     .arg(f.fileName())
                     .arg(st.st_size)
                     .arg(st.st_mtim.tv_sec)
                     .arg(st.st_mtim.tv_nsec);
    }
    return state;
}

JournalDatabase::Options reader()
{
    JournalDatabase::Options o;
    o.readOnly = true;
    return o;
}

} // namespace

class TestJournalIntegrity : public QObject {
    Q_OBJECT
    QtTempFolder m_dir;
    QString path(const QString& name) const { return m_dir.filePath(name); }

    // A closed journal of n runs, its log merged into the file.
    QString journalOf(const QString& name, int n)
    {
        const QString file = path(name);
        JournalDatabase db(file);
        if (!db.open())
            return {};
        for (int k = 0; k < n; ++k)
            if (!db.addRun(audioRun(1'700'000'000'000 + k * 1000)))
                return {};
        return file;
    }

private slots:
    // --- locks ---
    void anotherProgramClosingTheJournalNeverLosesLiveRuns()
    {
        const QString file = path(QStringLiteral("locks/journal.sqlite"));
        QProcess drummer;
        drummer.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--write-runs"), file});
        QVERIFY(drummer.waitForStarted());
        for (int round = 1; round <= 50; ++round) {
            drummer.write("\n");
            QTRY_VERIFY_WITH_TIMEOUT(drummer.canReadLine(), 20000);
            QCOMPARE(drummer.readLine().trimmed().toInt(), round);
            // Another program opens and closes the journal between runs.
            QCOMPARE(runsSeenByAnotherProgram(file), round);
        }
        drummer.kill(); // kill -9: what is on the disk is all there is
        QVERIFY(drummer.waitForFinished(10000));
        JournalDatabase db(file);
        JournalDatabase::Options check;
        check.checkWhole = true;
        QVERIFY(db.open(check));
        QCOMPARE(db.countRuns(), std::optional<std::int64_t>(50));
    }

    // --- damage ---
    void everyZeroedLeafPageIsReportedNeverListedAsComplete()
    {
        const int kRuns = 300;
        const QString pristine = journalOf(QStringLiteral("whole.sqlite"), kRuns);
        QVERIFY(!pristine.isEmpty());
        const QByteArray bytes = fileBytes(pristine);
        const int pageSize = (static_cast<unsigned char>(bytes[16]) << 8) | static_cast<unsigned char>(bytes[17]);
        QVERIFY(pageSize >= 512 && bytes.size() % pageSize == 0);
        int leaves = 0;
        int reported = 0;
        // Page 1 holds the schema; every other table or index leaf in turn.
        for (qsizetype page = 1; page < bytes.size() / pageSize; ++page) {
            const char type = bytes[page * pageSize];
            if (type != 0x0d && type != 0x0a)
                continue;
            ++leaves;
            QByteArray damaged = bytes;
            std::memset(damaged.data() + page * pageSize, 0, static_cast<std::size_t>(pageSize));
            const QString copy = path(QStringLiteral("zeroed.sqlite"));
            QVERIFY(writeBytes(copy, damaged));
            JournalDatabase db(copy);
            if (!db.open(reader())) {
                QCOMPARE(db.problem(), JournalProblem::Damaged);
                ++reported;
                continue;
            }
            const std::vector<JournalRun> runs = db.listRuns();
            const bool flagged = db.problem() == JournalProblem::Damaged;
            reported += flagged ? 1 : 0;
            QVERIFY2(flagged || runs.size() == kRuns,
                     qPrintable(QStringLiteral("page %1: %2 runs listed as complete").arg(page + 1).arg(runs.size())));
        }
        QVERIFY(leaves > 5);
        QVERIFY(reported > 0);
    }

    void theWriterStopsAtADamagedJournalUntilTheUserKnows()
    {
        const QString pristine = journalOf(QStringLiteral("damaged/journal.sqlite"), 40);
        QVERIFY(!pristine.isEmpty());
        QByteArray bytes = fileBytes(pristine);
        const int pageSize = (static_cast<unsigned char>(bytes[16]) << 8) | static_cast<unsigned char>(bytes[17]);
        // The last page holds strokes: listing runs would never notice it.
        std::memset(bytes.data() + bytes.size() - pageSize, 0, static_cast<std::size_t>(pageSize));
        QVERIFY(writeBytes(pristine, bytes));

        JournalWriter::Options options;
        options.path = pristine;
        JournalWriter writer(options);
        QSignalSpy damage(&writer, &JournalWriter::damageFound);
        QVERIFY(writer.submit(audioRun(99)));
        QVERIFY(writer.waitIdle(10000));
        QTRY_COMPARE(damage.count(), 1);
        QCOMPARE(writer.status().problem, JournalProblem::Damaged);
        QCOMPARE(writer.status().waitingRuns, 1);
        QCOMPARE(fileBytes(pristine), bytes);
        // Told again and again? Once is enough.
        writer.retryNow();
        QVERIFY(writer.waitIdle(10000));
        QCoreApplication::processEvents();
        QCOMPARE(damage.count(), 1);

        writer.startNewJournal();
        QVERIFY(writer.waitIdle(10000));
        const JournalStatus status = writer.status();
        QCOMPARE(status.problem, JournalProblem::None);
        QCOMPARE(status.movedAsideTo, pristine + QStringLiteral(".bak"));
        QVERIFY(status.text().contains(status.movedAsideTo));
        QCOMPARE(status.keptRuns, std::int64_t{1});
        QCOMPARE(fileBytes(status.movedAsideTo), bytes);
    }

    // --- readers ---
    void readersLeaveEveryFileAsItIs()
    {
        const QString file = journalOf(QStringLiteral("ro/journal.sqlite"), 3);
        QVERIFY(!file.isEmpty());
        const QString folder = QFileInfo(file).path();
        const auto readAll = [&](int expected) {
            const QStringList before = folderState(folder);
            JournalDatabase db(file);
            QVERIFY(db.open(reader()));
            QCOMPARE(db.listRuns().size(), std::size_t(expected));
            QCOMPARE(db.loadRun(1)->run.device.id, std::string("hw:CARD=CODEC,DEV=0"));
            db.close();
            QCOMPARE(folderState(folder), before);
        };
        readAll(3);

        // A writer comes while an immutable reader reads, its runs still in
        // the log: the reader knows to read again through the locks.
        JournalDatabase early(file);
        QVERIFY(early.open(reader()));
        QVERIFY(!early.readMayBeTorn());
        JournalDatabase writer(file);
        QVERIFY(writer.open());
        QVERIFY(writer.addRun(audioRun(5)));
        QVERIFY(QFileInfo(file + "-wal").size() > 0);
        QVERIFY(early.readMayBeTorn());
        readAll(4);
        writer.close();

        // A journal still being created: nothing is read, nothing removed.
        const QString empty = path(QStringLiteral("ro/new.sqlite"));
        QVERIFY(writeBytes(empty, {}));
        QVERIFY(writeBytes(empty + "-wal", {}));
        const QStringList before = folderState(folder);
        JournalDatabase creating(empty);
        QVERIFY(!creating.open(reader()));
        QCOMPARE(creating.problem(), JournalProblem::BeingCreated);
        QCOMPARE(creating.problemReason(), QStringLiteral("still being created"));
        QCOMPARE(folderState(folder), before);
    }

    void nothingButARegularFileIsOpened_data()
    {
        QTest::addColumn<QString>("fifo");   // where the pipe stands, relative to the journal
        QTest::addColumn<bool>("viaLink");   // the journal's name is a link to the pipe
        QTest::newRow("journal") << QString() << false;
        QTest::newRow("link to a pipe") << QString() << true;
        QTest::newRow("log") << QStringLiteral("-wal") << false;
        QTest::newRow("shared memory") << QStringLiteral("-shm") << false;
    }
    void nothingButARegularFileIsOpened()
    {
        QFETCH(QString, fifo);
        QFETCH(bool, viaLink);
        const QString folder = path(QStringLiteral("pipe-") + QString::fromLatin1(QTest::currentDataTag()));
        QVERIFY(QDir().mkpath(folder));
        const QString file = folder + QStringLiteral("/journal.sqlite");
        if (!fifo.isEmpty())
            QVERIFY(!journalOf(QStringLiteral("pipe-%1/journal.sqlite").arg(QTest::currentDataTag()), 1).isEmpty());
        const QString pipe = viaLink ? folder + QStringLiteral("/elsewhere") : file + fifo;
        QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
        if (viaLink)
            QVERIFY(QFile::link(pipe, file));

        // Were any of these to open the pipe, it would block for good.
        JournalDatabase read(file);
        QVERIFY(!read.open(reader()));
        QCOMPARE(read.problem(), JournalProblem::NotAFile);
        JournalDatabase write(file);
        QVERIFY(!write.open());
        QCOMPARE(write.problem(), JournalProblem::NotAFile);
        QVERIFY(QFileInfo(pipe).exists());
        if (fifo.isEmpty()) {
            // The writer, allowed to, moves the stranger aside and starts anew.
            JournalDatabase::Options told;
            told.moveAsideDamaged = true;
            QVERIFY(write.open(told));
            QCOMPARE(write.movedAsideTo(), file + QStringLiteral(".bak"));
        }
    }

    void reasonsSayWhatHappened()
    {
        // SQLite opens a file whose write-version byte it does not know
        // read-only: the folder is not to blame.
        const QString newer = journalOf(QStringLiteral("format.sqlite"), 1);
        QByteArray bytes = fileBytes(newer);
        bytes[18] = 3;
        QVERIFY(writeBytes(newer, bytes));
        JournalDatabase format(newer);
        const bool opened = format.open() && format.addRun(audioRun(7));
        QVERIFY(!opened);
        QCOMPARE(format.problem(), JournalProblem::UnwritableFormat);
        QCOMPARE(fileBytes(newer), bytes);

        if (::geteuid() == 0)
            QSKIP("root enters folders without search permission");
        const QString locked = path(QStringLiteral("closed"));
        QVERIFY(!journalOf(QStringLiteral("closed/journal.sqlite"), 1).isEmpty());
        QVERIFY(QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner));
        JournalDatabase db(locked + QStringLiteral("/journal.sqlite"));
        const bool read = db.open(reader());
        QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY(!read);
        QCOMPARE(db.problem(), JournalProblem::NoAccess);
    }

    void filesAndFolderArePrivateAndOldJournalsKeepTheirRuns()
    {
        const QString file = path(QStringLiteral("data/Tempovaro/journal.sqlite"));
        QVERIFY(QDir().mkpath(QFileInfo(file).path()));
        QCOMPARE(::chmod(QFile::encodeName(QFileInfo(file).path()).constData(), 0755), 0);
        {
            // A journal of the third version, made by an older Tempovaro with
            // a MIDI run stored under its port's GUID.
            QSqlDatabase raw = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("v3"));
            raw.setDatabaseName(file);
            QVERIFY(raw.open());
            QVERIFY(migrateJournalForTest(raw));
            raw.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("v3"));
        QCOMPARE(::chmod(QFile::encodeName(file).constData(), 0644), 0);

        JournalDatabase db(file);
        QVERIFY(db.open());
        QVERIFY(db.addRun(audioRun(100)));
        const auto runs = db.listRuns();
        QCOMPARE(runs.size(), std::size_t{3});
        QCOMPARE(runs[2].run.device.id, std::string("{01234567-89AB-CDEF-0123-456789ABCDEF}"));
        QCOMPARE(runs[1].run.device.id, std::string()); // a name, not an ID
        QCOMPARE(runs[0].run.device.id, std::string("hw:CARD=CODEC,DEV=0"));
        for (const char* suffix : {"", "-wal", "-shm"}) {
            struct stat st {};
            QCOMPARE(::stat(QFile::encodeName(file + QLatin1String(suffix)).constData(), &st), 0);
            QCOMPARE(st.st_mode & 0777, mode_t{0600});
        }
        struct stat folder {};
        QCOMPARE(::stat(QFile::encodeName(QFileInfo(file).path()).constData(), &folder), 0);
        QCOMPARE(folder.st_mode & 0777, mode_t{0700});
    }

private:
    static bool migrateJournalForTest(QSqlDatabase& raw);
};

#include "journal/JournalSchema.h"

bool TestJournalIntegrity::migrateJournalForTest(QSqlDatabase& raw)
{
    QSqlQuery q(raw);
    return migrateJournal(raw, 3) &&
           q.exec(QStringLiteral("INSERT INTO runs (start_utc_ms, recording_time_ms, ran_to_end, stroke_count, result,"
                                 " device_type, device_name, device_line, midi_channel, midi_note, detector,"
                                 " ticks_per_second, dropped_events) VALUES"
                                 " (10, 30000, 1, 5, 1, 2, '{01234567-89AB-CDEF-0123-456789ABCDEF}', '', 0, -1, 0, 1, 0),"
                                 " (20, 30000, 1, 5, 1, 2, 'TD-17', '', 0, -1, 0, 1, 0)"));
}

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && std::strcmp(argv[1], "--touch-journal") == 0)
        return touchJournal(QString::fromLocal8Bit(argv[2]));
    if (argc == 3 && std::strcmp(argv[1], "--write-runs") == 0)
        return writeRuns(QString::fromLocal8Bit(argv[2]));
    TestJournalIntegrity test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_journal_integrity.moc"
