// Closing with runs the journal has not taken: whatever the drummer answers,
// or when nobody can answer, every run ends up somewhere the drummer is told
// of, and the next start brings kept runs into the journal once.

#include "FileBytes.h"
#include "QtTempFolder.h"
#include "QtTestPrograms.h"
#include "TestRuns.h"
#include "journal/JournalDatabase.h"
#include "journal/JournalWriter.h"
#include "main/RunKeeper.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

class TestRunKeeper : public QObject {
    Q_OBJECT
    QtTempFolder m_dir;
    QString m_journal;
    QString m_blocker;
    QStringList m_told;

    // The journal's folder is a plain file: even root cannot write there.
    void blockJournal()
    {
        QVERIFY(writeBytes(m_blocker, {}));
    }
    RunKeeper::Dialogs dialogs(std::vector<RunKeeper::CloseChoice> answers, QString csvPath = {})
    {
        RunKeeper::Dialogs d;
        d.askAtClose = [answers, n = std::size_t{0}](int, const QString&) mutable {
            return n < answers.size() ? answers[n++] : RunKeeper::CloseChoice::KeepForNextStart;
        };
        d.chooseCsvFile = [csvPath] { return csvPath; };
        d.tell = [this](const QString& message) { m_told << message; };
        return d;
    }
    QString keptInState() const { return m_blocker + "-state/Tempovaro/unsaved-runs.sqlite"; }
    std::optional<std::int64_t> journalRuns() const
    {
        JournalDatabase db(m_journal);
        JournalDatabase::Options reader;
        reader.readOnly = true;
        return db.open(reader) ? db.countRuns() : std::nullopt;
    }

private slots:
    void init()
    {
        m_blocker = m_dir.filePath(QString::fromLatin1(QTest::currentTestFunction()) +
                                   QString::fromLatin1(QTest::currentDataTag()).remove(' '));
        qputenv("XDG_STATE_HOME", QFile::encodeName(m_blocker + "-state"));
        m_journal = m_blocker + "/journal.sqlite";
        m_told.clear();
    }

    void nobodyToAskKeepsRunsForTheNextStartWhichAddsThemOnce()
    {
        blockJournal();
        {
            RunKeeper keeper(m_journal);
            keeper.setDialogs(dialogs({RunKeeper::CloseChoice::Wait}));
            keeper.runEnded(midiRun(1000, 3));
            keeper.runEnded(midiRun(2000, 5));
            QVERIFY(keeper.waitForJournal(10000));
            // The keeper goes without a close, as after a signal: it asks nobody.
        }
        QVERIFY(m_told.isEmpty());
        QVERIFY(QFileInfo::exists(keptInState()));
        const QByteArray kept = fileBytes(keptInState());

        QVERIFY(QFile::remove(m_blocker));
        for (int start = 0; start < 2; ++start) {
            {
                RunKeeper keeper(m_journal);
                QVERIFY(keeper.journal());
                QVERIFY(keeper.waitForJournal(10000));
                QTRY_COMPARE(journalRuns(), std::optional<std::int64_t>(2));
                QVERIFY(!QFileInfo::exists(keptInState()));
                QCOMPARE(keeper.journal()->status().text().contains("2 runs kept aside at a close added"), start == 0);
            }
            // As if the last start had been killed between adding and removing.
            QVERIFY(writeBytes(keptInState(), kept));
        }
        JournalDatabase db(m_journal);
        QVERIFY(db.open());
        const auto runs = db.listRuns();
        QCOMPARE(db.loadRun(runs[0].run.id)->run.strokes.size(), std::size_t{5});
        QCOMPARE(runs[0].run.device.id, std::string("{01234567-89AB-CDEF-0123-456789ABCDEF}"));
        QVERIFY(runs[0].summary.strokesPerMinute);
    }

    void runsCopiedAsideWhileRefusedReachTheJournalOnce()
    {
        blockJournal();
        RunKeeper keeper(m_journal);
        keeper.runEnded(midiRun(1000, 3));
        QVERIFY(keeper.waitForJournal(10000));
        // The refusal is heard, and the run copied aside at once.
        QTRY_VERIFY(QFileInfo::exists(keptInState()));
        QVERIFY(QFile::remove(m_blocker));
        keeper.journal()->retryNow();
        QVERIFY(keeper.waitForJournal(10000));
        QCOMPARE(journalRuns(), std::optional<std::int64_t>(1));
        QVERIFY(!QFileInfo::exists(keptInState()));
    }

    void theDrummerWaitsThenSavesTheRunsAsCsvOrHearsWhyNot_data()
    {
        QTest::addColumn<bool>("writable");
        QTest::newRow("saved") << true;
        QTest::newRow("cannot be saved") << false;
    }
    void theDrummerWaitsThenSavesTheRunsAsCsvOrHearsWhyNot()
    {
        QFETCH(bool, writable);
        blockJournal();
        const QString csv = (writable ? m_dir.path() : m_blocker) + "/runs.csv";
        {
            RunKeeper keeper(m_journal);
            keeper.setDialogs(dialogs({RunKeeper::CloseChoice::Wait, RunKeeper::CloseChoice::SaveAsCsv}, csv));
            keeper.runEnded(midiRun(1000, 2));
            keeper.closeJournal(true);
        }
        // A CSV that cannot be written is said so, and the runs are kept instead.
        QCOMPARE(QFileInfo::exists(keptInState()), !writable);
        QCOMPARE(m_told.size(), writable ? 0 : 1);
        if (!writable)
            return;
        QFile f(csv);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = f.readAll().split('\n');
        QCOMPARE(lines.size(), 4); // header, two strokes, the end
        QVERIFY(lines[1].contains(",2,Finished,\"'=HYPERLINK(\"\"Pad ü\"\"), channel 10, note 38\",,{01234567"));
        QVERIFY(lines[2].endsWith(",2,0.125000,0.5,38\r"));
        QCOMPARE(f.permissions() & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions{});
    }
};

TEMPOVARO_QTEST(TestRunKeeper)
#include "test_run_keeper.moc"
