// The Run Report window, offscreen: a stored run's header, figures and
// charts, and a live run followed in steps ending where the finished run's
// report begins.
#include "QtTestPrograms.h"
#include "ui/report/QX_RunReport.h"

#include <QAreaSeries>
#include <QChartView>
#include <QLabel>
#include <QLineSeries>
#include <QScatterSeries>
#include <QGraphicsTextItem>
#include <QtTest>

#include <cmath>

namespace {

// A 30 s timed run at about 12 strokes per second that tires a little, with
// one bounce counted twice and one stroke lost.
RunRecord thirtySecondRun()
{
    RunRecord run;
    run.startUtcMs = 1796638500000; // 2026-12-07 10:15 UTC
    run.recordingTimeMs = 30000;
    run.ranToEnd = true;
    run.result = RunResult::Record;
    run.device = {DeviceType::Audio, "USB Audio CODEC", "Mic", 0, -1, AudioDetector::Standard, ""};
    std::int64_t tick = 0;
    std::uint32_t seed = 7;
    for (int i = 0; tick < 30 * kAudioTicksPerSecond; ++i) {
        if (i != 200)
            run.strokes.push_back({tick, 0.6f, -1});
        if (i == 120)
            run.strokes.push_back({tick + 600, 0.2f, -1});
        seed = seed * 1664525u + 1013904223u;
        const double jitterS = (static_cast<double>(seed >> 16) / 65536.0 - 0.5) * 0.008;
        tick += static_cast<std::int64_t>((0.08 + 0.0006 * i / 12.0 + jitterS) * kAudioTicksPerSecond);
    }
    run.count = static_cast<std::int32_t>(run.strokes.size());
    return run;
}

QXYSeries* seriesNamed(const RunReportWindow& window, const QString& name)
{
    for (QChartView* view : window.findChildren<QChartView*>())
        for (QAbstractSeries* series : view->chart()->series())
            if (series->name() == name)
                return static_cast<QXYSeries*>(series);
    return nullptr;
}

QString labelText(const RunReportWindow& window, const char* name)
{
    const auto* label = window.findChild<QLabel*>(QString::fromLatin1(name));
    return label ? label->text() : QStringLiteral("(missing)");
}

} // namespace

class TestRunReport : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

    void showsAStoredRun()
    {
        const RunRecord run = thirtySecondRun();
        const RunAnalysis analysis = analyzeRun(run);
        RunReportWindow window;
        window.setJournalStatus(QStringLiteral("Journal unavailable: disk full \u2013 runs are not being kept"));
        window.showRun(run);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        QCOMPARE(labelText(window, "recordingTime"), QStringLiteral("30 s"));
        QCOMPARE(labelText(window, "result"), QStringLiteral("Record"));
        QCOMPARE(labelText(window, "device"), QStringLiteral("USB Audio CODEC (Mic)"));
        QCOMPARE(labelText(window, "count"), QString::number(run.count));
        bool journalShown = false;
        for (const QLabel* label : window.findChildren<QLabel*>())
            journalShown = journalShown || (label->text().startsWith("Journal unavailable") && label->isVisible());
        QVERIFY(journalShown);
        if (const QByteArray shot = qgetenv("TEMPOVARO_REPORT_SHOT"); !shot.isEmpty())
            window.grab().save(QString::fromLocal8Bit(shot));
        window.setJournalStatus(QString());

        QCOMPARE(window.figureText("strokes"), QString::number(run.strokes.size()));
        QCOMPARE(window.figureText("seconds"), QStringLiteral("30.0"));
        QCOMPARE(window.figureText("suspected_doubles"), QStringLiteral("1"));
        QCOMPARE(window.figureText("suspected_misses"), QStringLiteral("1"));
        QCOMPARE(window.figureText("fatigue_percent"),
                 QLocale().toString(*analysis.figures.fatiguePercent, 'f', 1));

        QCOMPARE(seriesNamed(window, "Strokes per second")->count(), 291); // 1.0 .. 30.0 s
        QCOMPARE(seriesNamed(window, "Interval")->count(), static_cast<int>(run.strokes.size() - 1));
        QCOMPARE(seriesNamed(window, "Suspected double")->count(), 1);
        QCOMPARE(seriesNamed(window, "Suspected miss")->count(), 1);
        QCOMPARE(seriesNamed(window, "Suspected double")->at(0).x(), 122.0); // the bounce itself

        // A run too short for most figures shows dashes, never 0 or NaN.
        RunRecord shortRun;
        shortRun.count = 1;
        shortRun.strokes = {{4410, 1.0f, -1}};
        window.showRun(shortRun);
        QCOMPARE(window.figureText("strokes"), QStringLiteral("1"));
        for (const char* empty : {"strokes_per_minute", "mean_interval_ms", "evenness_cv_percent", "fatigue_percent",
                                  "hand_balance_percent", "suspected_misses"})
            QCOMPARE(window.figureText(empty), QStringLiteral("\u2013"));
        QCOMPARE(labelText(window, "recordingTime"), QStringLiteral("Endless"));
        QCOMPARE(seriesNamed(window, "Interval")->count(), 0);
    }

    void followsALiveRun()
    {
        const RunRecord finished = thirtySecondRun();
        RunReportWindow window;
        window.show();
        RunRecord live = finished;
        live.ranToEnd = false;
        live.result = RunResult::CutShort;
        // The main window's 100 ms steps: about one stroke and a bit each.
        // Its record of a run in progress has no count yet; the header
        // counts the strokes so far, and those whose times were lost.
        live.count = 0;
        for (std::size_t n = 0; n <= finished.strokes.size(); n += 7) {
            live.strokes.assign(finished.strokes.begin(), finished.strokes.begin() + static_cast<std::ptrdiff_t>(n));
            live.droppedEvents = n / 100;
            window.followLive(live);
            QCOMPARE(window.figureText("strokes"), QString::number(n));
            QCOMPARE(labelText(window, "count"), QLocale().toString(static_cast<qulonglong>(n + n / 100)));
        }
        live.droppedEvents = 0;
        QCOMPARE(labelText(window, "result"), QStringLiteral("In progress\u2026"));
        live.strokes = finished.strokes;
        window.followLive(live);
        RunAnalyzer reference;
        for (const double t : strokeSeconds(finished))
            reference.addStroke(t);
        QCOMPARE(seriesNamed(window, "Interval")->count(), static_cast<int>(reference.intervalCount()));
        QCOMPARE(seriesNamed(window, "Strokes per second")->count(),
                 static_cast<int>(reference.settledSpeedCurve().size()));
        QCOMPARE(seriesNamed(window, "Suspected double")->count(), 1);
        QCOMPARE(window.figureText("suspected_misses"), QStringLiteral("1"));
        QCOMPARE(window.figureText("seconds"), QLocale().toString(reference.times().back(), 'f', 1));

        // A new run starts from empty charts.
        RunRecord next;
        next.startUtcMs = finished.startUtcMs + 60000;
        next.strokes = {{0, 1.0f, -1}, {4410, 1.0f, -1}};
        window.followLive(next);
        QCOMPARE(seriesNamed(window, "Interval")->count(), 1);
        QCOMPARE(seriesNamed(window, "Suspected double")->count(), 0);
        QCOMPARE(window.figureText("strokes"), QStringLiteral("2"));

        // The finished run replaces the live view with the full report.
        window.showRun(finished);
        QCOMPARE(labelText(window, "result"), QStringLiteral("Record"));
        QCOMPARE(seriesNamed(window, "Strokes per second")->count(), 291);
        QTest::keyClick(&window, Qt::Key_Escape);
        QVERIFY(!window.isVisible());
    }

    // Sixteenths at 120 BPM from 1 s, two bars with the click and two
    // without; hand A 4 ms late, hand B 6 ms early.
    void aRunWithTheClickShowsEachStrokesOffsetAndTheTimingFigures()
    {
        RunRecord run = thirtySecondRun();
        run.strokes.clear();
        run.click = RunClick{120.0, 4, 4, 2, 2, 44100.0, 0};
        for (int k = 0; k < 64; ++k)
            run.strokes.push_back({44100 + k * 5512 + k / 2 + (k % 2 == 0 ? 176 : -265), 0.5f, -1});
        run.count = 64;
        RunReportWindow window;
        window.showRun(run);
        QVERIFY(window.showsTiming());
        QCOMPARE(window.figureText("hand_a_mean_offset_ms"), QString("4.0"));
        QCOMPARE(window.figureText("hand_b_mean_offset_ms"), QString("-6.0"));
        QCOMPARE(window.figureText("within_10ms_percent"), QString("100.0"));
        QCOMPARE(window.figureText("missed_grid_points"), QString("0"));
        QCOMPARE(seriesNamed(window, "Stroke")->count(), 32);
        QCOMPARE(seriesNamed(window, "Stroke in a silent bar")->count(), 32);
        // The first stroke, 4 ms late, at 0 s; the silent stretch from the third bar (4 s after the grid's start).
        QVERIFY(std::abs(seriesNamed(window, "Stroke")->at(0).y() - 176 / 44.1) < 1e-9);
        const auto* silent = static_cast<QAreaSeries*>(window.timingChart()->series().front());
        QVERIFY(std::abs(silent->upperSeries()->at(1).x() - (4.0 - 176 / 44100.0)) < 1e-9);

        window.showRun(thirtySecondRun());
        QVERIFY(!window.showsTiming());
    }

    void titlesAndLegendFitAtTheSmallestSize()
    {
        RunReportWindow window;
        window.showRun(thirtySecondRun());
        window.show();
        window.resize(window.minimumSizeHint());
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QList<QChartView*> views;
        for (QChartView* view : window.findChildren<QChartView*>())
            if (view->isVisible())
                views << view;
        QCOMPARE(views.size(), 2);
        // Qt Charts shortens a title that does not fit to "Interval (…".
        for (QChartView* view : views) {
            QTRY_COMPARE(view->chart()->size(), QSizeF(view->viewport()->size()));
            const QString title = view->chart()->axes(Qt::Vertical).front()->titleText();
            QStringList shown;
            for (QGraphicsItem* item : view->scene()->items())
                if (const auto* text = dynamic_cast<QGraphicsTextItem*>(item); text && text->isVisible())
                    shown << text->toPlainText();
            QVERIFY2(shown.contains(title), qPrintable(shown.join(QStringLiteral(" | "))));
            if (view->chart()->legend()->isVisible())
                for (QAbstractSeries* series : view->chart()->series())
                    QVERIFY2(shown.contains(series->name()), qPrintable(shown.join(QStringLiteral(" | "))));
        }
    }

    void longRunsAreThinnedWithoutLosingSpikes()
    {
        // 5,000 strokes 50 ms apart with a wobble, one lost near the end.
        RunRecord run;
        run.startUtcMs = 1;
        std::int64_t tick = 0;
        for (int i = 0; i < 5000; ++i) {
            if (i != 4321)
                run.strokes.push_back({tick, 0.5f, -1});
            tick += 2205 + (i * 7919 % 13) * 20;
        }
        RunReportWindow window;
        window.show();
        RunRecord live = run;
        for (std::size_t n = 0; n <= run.strokes.size(); n += 9) {
            live.strokes.assign(run.strokes.begin(), run.strokes.begin() + static_cast<std::ptrdiff_t>(n));
            window.followLive(live);
        }
        live.strokes = run.strokes;
        window.followLive(live);
        const QList<QPointF> followed = seriesNamed(window, "Interval")->points();

        window.showRun(run);
        const QList<QPointF> shown = seriesNamed(window, "Interval")->points();
        QCOMPARE(followed, shown);
        QVERIFY(shown.size() <= 2048);
        QCOMPARE(shown.front().x(), 2.0);
        QCOMPARE(shown.back().x(), static_cast<double>(run.strokes.size()));
        const auto highest = std::max_element(shown.begin(), shown.end(),
                                              [](const QPointF& a, const QPointF& b) { return a.y() < b.y(); });
        QCOMPARE(highest->x(), 4322.0); // strokes 1 .. 4,321 come before the lost one
        QCOMPARE(seriesNamed(window, "Suspected miss")->count(), 1);
    }
};

TEMPOVARO_QTEST(TestRunReport)
#include "test_run_report.moc"
