// The journal window, offscreen: its table sorts and filters hand-made runs
// the way a drummer reads them, Enter opens a run through the hook, Delete
// asks once and deletes only from the journal, and the window never crashes
// on a journal it cannot open.
#include "FileBytes.h"
#include "QtTempFolder.h"
#include "QtTestPrograms.h"
#include "ui/journal/JournalProgressChart.h"
#include "ui/journal/JournalTableModel.h"
#include "ui/journal/JournalWindow.h"

#include <QApplication>
#include <QChart>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QXYSeries>
#include <QDateTime>
#include <QFile>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>

namespace {

constexpr std::int64_t kDayMs = 86'400'000;

JournalRun hand(std::int64_t id, int count, std::optional<double> perMinute, std::string device,
                std::int32_t recordingTimeMs = 30000)
{
    JournalRun j;
    j.run.id = id;
    j.run.startUtcMs = 1'700'000'000'000 + id * kDayMs;
    j.run.recordingTimeMs = recordingTimeMs;
    j.run.count = count;
    j.run.device = {DeviceType::Audio, std::move(device), "", 0, -1, AudioDetector::Standard, ""};
    j.summary.strokesPerMinute = perMinute;
    return j;
}

std::vector<std::int64_t> idsInView(const JournalTableModel& m)
{
    std::vector<std::int64_t> ids;
    for (int row = 0; row < m.rowCount(); ++row)
        ids.push_back(m.index(row, 0).data(Qt::UserRole).toLongLong());
    return ids;
}

RunRecord stored(std::int64_t startUtcMs, std::int32_t recordingTimeMs, int count, RunResult result)
{
    RunRecord r;
    r.startUtcMs = startUtcMs;
    r.recordingTimeMs = recordingTimeMs;
    r.count = count;
    r.result = result;
    r.device = {DeviceType::Midi, "Pad", "", 0, -1, AudioDetector::Standard, ""};
    return r;
}

} // namespace

class TestJournalWindow : public QObject {
    Q_OBJECT
    QtTempFolder m_dir;

private slots:
    void theTableSortsNumbersAsNumbersAndEmptyFiguresLast()
    {
        JournalTableModel m;
        m.setRuns({hand(1, 9, 18.0, "b"), hand(2, 100, std::nullopt, "C"), hand(3, 10, 240.5, "a"),
                   hand(4, 55, std::nullopt, "a", -1)});
        QCOMPARE(idsInView(m), (std::vector<std::int64_t>{4, 3, 2, 1})); // newest first
        m.sort(JournalTableModel::ColCount, Qt::AscendingOrder);
        QCOMPARE(idsInView(m), (std::vector<std::int64_t>{1, 3, 4, 2}));
        m.sort(JournalTableModel::ColStrokesPerMinute, Qt::AscendingOrder);
        QCOMPARE(idsInView(m), (std::vector<std::int64_t>{1, 3, 4, 2}));
        m.sort(JournalTableModel::ColStrokesPerMinute, Qt::DescendingOrder);
        QCOMPARE(idsInView(m), (std::vector<std::int64_t>{3, 1, 4, 2}));
        // Endless is the longest recording time; equal keys keep the newest first.
        m.sort(JournalTableModel::ColRecordingTime, Qt::DescendingOrder);
        QCOMPARE(idsInView(m), (std::vector<std::int64_t>{4, 3, 2, 1}));
        m.sort(JournalTableModel::ColDevice, Qt::AscendingOrder);
        QCOMPARE(idsInView(m), (std::vector<std::int64_t>{4, 3, 1, 2}));
        // New rows come in under the chosen sort.
        m.setRuns({hand(5, 1, 1.0, "z"), hand(6, 1, 1.0, "A")});
        QCOMPARE(idsInView(m), (std::vector<std::int64_t>{6, 5}));
        QCOMPARE(m.index(0, JournalTableModel::ColRecordingTime).data().toString(), QString("30 s"));
        QCOMPARE(m.index(0, JournalTableModel::ColEvenness).data().toString(), QString());
    }

    // Runs with the click show its tempo and timing; the chart's choice
    // charts their share within ±10 ms, and runs without the click stay out.
    void clickRunsShowTheirTimingInTheTableAndTheChart()
    {
        std::vector<JournalRun> runs = {hand(1, 90, 180.0, "a"), hand(2, 95, 190.0, "a"), hand(3, 99, 198.0, "a")};
        runs[0].run.click = RunClick{142.5, 4, 4, 1, 0, 0.0, 0};
        runs[0].summary.meanOffsetMs = -3.25;
        runs[0].summary.within10Percent = 62.5;
        runs[2].run.click = RunClick{146.0, 4, 4, 1, 0, 0.0, 0};
        runs[2].summary.meanOffsetMs = 1.0;
        runs[2].summary.within10Percent = 81.0;
        JournalTableModel m;
        m.setRuns(runs);
        m.sort(JournalTableModel::ColWithin10, Qt::DescendingOrder);
        QCOMPARE(idsInView(m), (std::vector<std::int64_t>{3, 1, 2}));
        QCOMPARE(m.index(1, JournalTableModel::ColClickTempo).data().toString(), QLocale().toString(142.5, 'f', 1));
        QCOMPARE(m.index(1, JournalTableModel::ColMeanOffset).data().toString(), QLocale().toString(-3.3, 'f', 1));
        QCOMPARE(m.index(0, JournalTableModel::ColClickTempo).data().toString(), QString("146"));
        QCOMPARE(m.index(2, JournalTableModel::ColWithin10).data().toString(), QString());

        JournalProgressChart chart;
        chart.showRuns(runs, 30000);
        const auto runPoints = [&chart] {
            return static_cast<QXYSeries*>(chart.chart()->series().front())->points();
        };
        QCOMPARE(runPoints().size(), 3);
        chart.setMeasure(JournalProgressChart::Measure::Within10);
        const QList<QPointF> timed = runPoints();
        QCOMPARE(timed.size(), 2);
        QCOMPARE(timed[0].y(), 62.5);
        QCOMPARE(timed[1].y(), 81.0);
        QVERIFY(chart.figuresText().contains("Best: " + QLocale().toString(81.0, 'f', 1)));

        // The speed builder's plans chart whatever the recording time; a
        // plan that passed nothing is left out.
        chart.showRuns(runs, std::nullopt);
        chart.setMeasure(JournalProgressChart::Measure::HighestClean);
        chart.setSpeedPlans({SpeedPlanRecord{1, runs[0].run.startUtcMs, 100, 4, 140, 4, 4, 6, 124.0, false},
                             SpeedPlanRecord{2, runs[1].run.startUtcMs, 100, 4, 140, 4, 4, 2, std::nullopt, false},
                             SpeedPlanRecord{3, runs[2].run.startUtcMs, 100, 4, 140, 4, 4, 9, 132.0, false}});
        QVERIFY(!chart.showsNote());
        const QList<QPointF> plans = runPoints();
        QCOMPARE(plans.size(), 2);
        QCOMPARE(plans[1].y(), 132.0);
        QVERIFY(chart.figuresText().contains("Plans: 2"));
    }

    void filtersPickTheRecordingTimeAndThePeriod()
    {
        const std::int64_t now = QDateTime::currentMSecsSinceEpoch();
        const QString path = m_dir.filePath("filters.sqlite");
        {
            JournalDatabase db(path);
            QVERIFY(db.open());
            for (const auto& [ageDays, ms] : std::vector<std::pair<int, std::int32_t>>{
                     {2, 30000}, {2, -1}, {20, 30000}, {200, 30000}, {400, 60000}})
                QVERIFY(db.addRun(stored(now - ageDays * kDayMs, ms, 100 + ageDays, RunResult::Finished)));
        }
        JournalWindow w(path, m_dir.filePath("none.qxs"));
        w.show();
        QCOMPARE(w.model()->rowCount(), 5);
        QVERIFY(w.progressChart()->showsNote());
        const struct {
            std::optional<std::int32_t> time;
            JournalPeriod period;
            int rows;
        } rows[] = {{std::nullopt, JournalPeriod::LastWeek, 2}, {30000, JournalPeriod::LastMonth, 2},
                    {30000, JournalPeriod::LastYear, 3},        {60000, JournalPeriod::LastYear, 0},
                    {60000, JournalPeriod::All, 1},             {-1, JournalPeriod::All, 1}};
        for (const auto& r : rows) {
            w.setRecordingTimeFilter(r.time);
            w.setPeriodFilter(r.period);
            QCOMPARE(w.model()->rowCount(), r.rows);
        }
        // The chart follows the chosen recording time and period.
        w.setRecordingTimeFilter(30000);
        QVERIFY(!w.progressChart()->showsNote());
        QVERIFY(w.progressChart()->figuresText().contains("Runs: 3"));
        QVERIFY(w.progressChart()->figuresText().contains("Best: 300 strokes"));
        QCOMPARE(w.progressChart()->chart()->series().size(), 4);
        // Within the last month the best so far is still the 300 from before it.
        w.setPeriodFilter(JournalPeriod::LastMonth);
        QXYSeries* best = nullptr;
        for (QAbstractSeries* series : w.progressChart()->chart()->series())
            if (series->name() == QStringLiteral("Best so far"))
                best = static_cast<QXYSeries*>(series);
        QVERIFY(best && best->count() > 0);
        for (const QPointF& p : best->points())
            QCOMPARE(p.y(), 300.0);
    }

    void enterOpensARunAndDeleteAsksOnceAndSparesTheScoreFile()
    {
        const QString path = m_dir.filePath("delete.sqlite");
        const QString scores = m_dir.filePath("Tempovaro.qxs");
        {
            JournalDatabase db(path);
            QVERIFY(db.open());
            for (int k = 0; k < 3; ++k)
                QVERIFY(db.addRun(stored(1'700'000'000'000 + k * kDayMs, 30000, 100 + k, RunResult::Record)));
        }
        QVERIFY(writeBytes(scores, QByteArray(16000, '\x7f')));

        JournalWindow w(path, scores);
        QStringList questions;
        bool answer = false;
        w.setConfirm([&](QWidget*, const QString& q) {
            questions << q;
            return answer;
        });
        w.show();
        QCoreApplication::processEvents();
        QVERIFY(questions.isEmpty()); // a journal with runs is never offered an import
        QSignalSpy open(&w, &JournalWindow::openRunRequested);
        w.table()->setFocus();
        w.table()->selectRow(1);
        const qint64 second = w.model()->runAt(1).run.id;
        QTest::keyClick(w.table(), Qt::Key_Return);
        QCOMPARE(open.size(), 1);
        QCOMPARE(open.front().front().toLongLong(), second);
        QCOMPARE(w.loadRun(second)->count, 101);

        QTest::keyClick(w.table(), Qt::Key_Delete);
        QCOMPARE(questions.size(), 1);
        QCOMPARE(w.model()->rowCount(), 3);
        answer = true;
        QTest::keyClick(w.table(), Qt::Key_Delete);
        QCOMPARE(questions.size(), 2);
        QCOMPARE(w.model()->rowCount(), 2);
        QVERIFY(!w.loadRun(second));
        QCOMPARE(fileBytes(scores), QByteArray(16000, '\x7f'));

        // A run written while the drummer was elsewhere shows on coming back.
        QWidget elsewhere;
        elsewhere.show();
        elsewhere.activateWindow();
        QTRY_VERIFY(!w.isActiveWindow());
        {
            JournalDatabase writer(path);
            QVERIFY(writer.open());
            QVERIFY(writer.addRun(stored(1'800'000'000'000, 30000, 500, RunResult::Record)));
        }
        w.activateWindow();
        QTRY_COMPARE(w.model()->rowCount(), 3);
        QCOMPARE(w.model()->runAt(0).run.count, 500);
    }

    void enterOnTheDeleteQuestionKeepsTheRuns()
    {
        const QString path = m_dir.filePath("keep.sqlite");
        {
            JournalDatabase db(path);
            QVERIFY(db.open());
            QVERIFY(db.addRun(stored(1'700'000'000'000, 30000, 100, RunResult::Finished)));
        }
        JournalWindow w(path, m_dir.filePath("none.qxs"));
        w.show();
        w.table()->selectRow(0);
        bool defaultWasNo = false;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box);
            defaultWasNo = box->defaultButton() == box->button(QMessageBox::No);
            QTest::keyClick(box, Qt::Key_Return);
        });
        QTest::keyClick(w.table(), Qt::Key_Delete);
        QVERIFY(defaultWasNo);
        QCOMPARE(w.model()->rowCount(), 1);
    }

    void anEmptyJournalOffersTheScoresAndABadJournalOnlySaysSo()
    {
        const QString scores = m_dir.filePath("offer.qxs");
        QByteArray bytes(16000, '\0');
        const qint32 strokes = 250, seconds = 60;
        const double date = 46000.5;
        std::memcpy(bytes.data(), &strokes, 4);
        std::memcpy(bytes.data() + 4, &seconds, 4);
        std::memcpy(bytes.data() + 8, &date, 8);
        QVERIFY(writeBytes(scores, bytes));
        int asked = 0;
        {
            JournalWindow w(m_dir.filePath("offer.sqlite"), scores);
            w.setConfirm([&](QWidget*, const QString&) { return ++asked > 0; });
            w.show();
            QTRY_COMPARE(asked, 1);
            QCOMPARE(w.model()->rowCount(), 1);
            QCOMPARE(w.model()->runAt(0).run.count, 250);
            QCOMPARE(w.model()->runAt(0).run.result, RunResult::Record); // the first score of its time
            w.setConfirm([](QWidget*, const QString&) { return true; });
            w.table()->selectRow(0);
            QTest::keyClick(w.table(), Qt::Key_Delete);
            QCOMPARE(w.model()->rowCount(), 0);
        }
        {
            // Emptied by hand, the journal is not offered what it already had.
            JournalWindow w(m_dir.filePath("offer.sqlite"), scores);
            w.setConfirm([&](QWidget*, const QString&) { return ++asked > 0; });
            w.show();
            QCoreApplication::processEvents();
            QCOMPARE(asked, 1);
        }

        // A journal under a regular file cannot exist: a status line, no crash.
        JournalWindow bad(m_dir.filePath("offer.qxs/journal.sqlite"), scores);
        QString warned;
        bad.setWarn([&](QWidget*, const QString& m) { warned = m; });
        bad.show();
        QVERIFY(bad.statusText().contains("cannot be opened"));
        QCOMPARE(bad.model()->rowCount(), 0);
        // An export that cannot be written names the file and leaves none.
        const QString target = m_dir.filePath("offer.qxs/runs.csv");
        QVERIFY(!bad.exportRunsTo(target));
        QVERIFY(warned.contains(target));
        QVERIFY(!QFile::exists(target));
    }

    void aDamagedJournalIsSaidSoAndMovedAsideOnlyWhenAgreed()
    {
        const QString path = m_dir.filePath("damaged.sqlite");
        QVERIFY(writeBytes(path, "scores, not a journal\n"));
        QStringList asked;
        for (const bool agree : {false, true}) {
            JournalWindow w(path, m_dir.filePath("none.qxs"));
            w.setConfirm([&](QWidget*, const QString& question) {
                asked << question;
                return agree;
            });
            w.show();
            QCOMPARE(asked.size(), agree ? 2 : 1);
            QVERIFY(asked.back().contains("is damaged"));
            if (!agree) {
                QVERIFY(w.statusText().contains("cannot be opened (damaged)"));
                QVERIFY(QFile::exists(path) && !QFile::exists(path + ".bak"));
            } else {
                QVERIFY(w.statusText().contains("moved to " + QDir::toNativeSeparators(path + ".bak")));
                QCOMPARE(w.model()->rowCount(), 0);
            }
        }
    }
};

TEMPOVARO_QTEST(TestJournalWindow)
#include "test_journal_window.moc"
