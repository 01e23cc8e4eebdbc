#pragma once
// RunReportWindow: the "Run Report" window. Shows one run at a glance: its
// header (start, recording time, count, result, device), the speed curve,
// every interval against its stroke number with suspected doubles and
// misses marked, and the run's figures beside the charts. A run played with
// the click also shows each stroke's offset from its grid point over time
// (the ±10 ms band and the silent bars shaded) and the timing figures; a
// run without it shows neither.
//
// showRun() shows a finished or stored run in full. followLive() follows a
// run in progress: the caller hands in the record so far, at most every
// 100 ms; only the strokes added since the last call are analysed, and the
// charts draw a thinned line of at most about two thousand points, so a call
// costs about the same at stroke 20 as at stroke 20,000. setJournalStatus() shows one plain line about the journal.
//
// Modeless; a parent's window owns it, but it is a window of its own.
// Threads: user-interface thread only.

#include "analysis/RunFigures.h"
#include "analysis/RunTiming.h"
#include "ui/common/ThinnedLine.h"

#include <QString>
#include <QWidget>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

class QChart;
class QLabel;
class QLineSeries;
class QScatterSeries;
class QValueAxis;

class RunReportWindow : public QWidget {
    Q_OBJECT
public:
    explicit RunReportWindow(QWidget* parent = nullptr);
    ~RunReportWindow() override;

    void showRun(const RunRecord& run);
    void followLive(const RunRecord& inProgress);
    // Empty hides the line.
    void setJournalStatus(const QString& text);

    // The value text shown for a figure by its report name ("strokes_per_minute",
    // "mean_offset_ms").
    QString figureText(const QString& name) const;
    // For tests: the timing chart, shown only for a run with the click.
    QChart* timingChart() const { return m_timingChart; }
    bool showsTiming() const;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void buildHeader(class QGridLayout* grid);
    QWidget* buildFigures();
    void buildCharts(class QVBoxLayout* column);
    void showHeader(const RunRecord& run, bool live);
    void showNote(const RunRecord& run, std::size_t strokesWithTimes);
    void showFigures(const RunFigures& figures);
    void clearCharts();
    void fitAxes(double endS, double maxPerSecond, std::int32_t strokes, double longestMs);
    void buildTimingChart();
    // The timing figures' rows from `row` on, hidden until a run has the
    // click; returns the row after them.
    int addTimingFigures(class QGridLayout* grid, QWidget* panel, int row);
    void showTiming(const RunRecord& run);

    QLabel* m_startLabel = nullptr;
    QLabel* m_timeLabel = nullptr;
    QLabel* m_countLabel = nullptr;
    QLabel* m_resultLabel = nullptr;
    QLabel* m_deviceLabel = nullptr;
    QLabel* m_journalLabel = nullptr;
    QLabel* m_noteLabel = nullptr;
    std::array<QLabel*, kFigureCount> m_values{};

    QChart* m_speedChart = nullptr;
    QLineSeries* m_speedSeries = nullptr;
    QValueAxis* m_speedX = nullptr;
    QValueAxis* m_speedY = nullptr;
    QChart* m_intervalChart = nullptr;
    QLineSeries* m_intervalSeries = nullptr;
    QScatterSeries* m_doubleSeries = nullptr;
    QScatterSeries* m_missSeries = nullptr;
    QValueAxis* m_intervalX = nullptr;
    QValueAxis* m_intervalY = nullptr;
    QChart* m_timingChart = nullptr;
    class QChartView* m_timingView = nullptr;
    QLineSeries* m_offsetSeries = nullptr;       // dots only
    QLineSeries* m_silentOffsetSeries = nullptr;
    class QAreaSeries* m_bandSeries = nullptr;
    class QAreaSeries* m_silentSeries = nullptr;
    QValueAxis* m_timingX = nullptr;
    QValueAxis* m_timingY = nullptr;
    std::vector<QLabel*> m_timingRows;   // every label of the timing figures, shown with the click
    std::vector<QLabel*> m_timingValues; // in the order of timingRows()
    ThinnedLine m_speedLine;
    ThinnedLine m_intervalLine;

    // Following a run: what has been analysed and drawn so far.
    bool m_live = false;
    std::int64_t m_liveFirstTick = 0;
    std::int64_t m_liveStartUtcMs = 0;
    std::unique_ptr<RunAnalyzer> m_analyzer;
    std::size_t m_speedShown = 0;
    std::size_t m_intervalsShown = 0;
    std::size_t m_marksShown = 0;
    double m_maxPerSecond = 0.0;
};
