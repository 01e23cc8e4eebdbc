#pragma once
// JournalProgressChart: the journal window's progress chart for one
// recording time: every run as a point over its date, the best so far as a
// step line, the best of each week as a line, records marked, and the plain
// figures under it. Without a chosen recording time it shows a short note
// instead, since counts of different recording times do not compare.
//
// A choice above the chart charts the share of strokes within ±10 ms of the
// click instead (runs played with the click only), or the highest tempo each
// speed-builder plan passed cleanly (whatever the recording time).
//
// Thread: the user-interface thread. Units: dates as milliseconds since 1970
// UTC, shown in the local zone; values are counts, or strokes per minute for
// endless runs, or percentages. Owns its chart view and labels (Qt parents).

#include "journal/JournalDatabase.h"

#include <QWidget>

#include <optional>
#include <vector>

class QChart;
class QComboBox;
class QChartView;
class QLabel;
class QStackedWidget;

class JournalProgressChart : public QWidget {
    Q_OBJECT
public:
    explicit JournalProgressChart(QWidget* parent = nullptr);

    // runs: the listed runs of recordingTimeMs (-1 endless), any order;
    // nothing chosen shows the note. earlier: the runs before the listed
    // period, whose best the best-so-far line starts from.
    void showRuns(const std::vector<JournalRun>& runs, std::optional<std::int32_t> recordingTimeMs,
                  const std::vector<JournalRun>& earlier = {});

    enum class Measure { Count, Within10, HighestClean };
    // The speed builder's plans, for the highest clean tempo; any order.
    void setSpeedPlans(std::vector<SpeedPlanRecord> plans);
    // Charts this measure from now on (the runs shown are charted again).
    void setMeasure(Measure measure);
    Measure measure() const;

    // For tests and the benchmark: what is on display.
    QChart* chart() const;
    QString figuresText() const;
    bool showsNote() const;

private:
    void redraw();

    QComboBox* m_measure;
    std::vector<JournalRun> m_runs;
    std::vector<JournalRun> m_earlier;
    std::vector<SpeedPlanRecord> m_plans;
    std::optional<std::int32_t> m_recordingTimeMs;
    QStackedWidget* m_stack;
    QLabel* m_note;
    QChartView* m_view;
    QLabel* m_figures;
};
