#pragma once
// SpeedBuilderWindow: the speed builder's small modeless window. The drummer
// sets a plan (start tempo, step, target, bars per repetition, grid, pass
// rule) and presses Start; from then on the plan runs hands-free. The window
// arms a fresh measurement, plays each repetition's count-in and bars on a
// click of its own, times the measurement's strokes against it with
// SpeedBuilder, steps the tempo up after a pass and down after a fail, and
// says what it is doing ("Pass: 142 BPM, next 146"). The plan and its
// highest clean tempo so far are kept in the journal after each repetition,
// its one row replaced each time, and once more when the plan ends (target
// passed, Stop, or the window going with the program): a program that closes
// or is killed mid-plan keeps what the plan reached.
//
// The builder's time line is the monotonic clock in seconds: the click's
// output stream and the trigger's stroke clock both say where they stand
// against it (QX_StreamClock), so a repetition's count-in becomes an output
// sample and a stroke's tick becomes a time on that line, less the stored
// calibration offset. With the click on another card than the input (or a
// MIDI pad), once both have fitted lines (StreamDrift.h) those carry the
// streams' measured rates, so a ladder of many minutes stays on the grid.
//
// Threads: user-interface thread only. Its 30 ms timer runs only while a
// plan runs, so it costs nothing otherwise. Everything outside the window
// (clock, click output, strokes, the measurement, the journal) comes through
// SpeedBuilderHooks, which tests replace.

#include "analysis/ClickTrack.h"
#include "analysis/SpeedBuilder.h"
#include "analysis/StreamDrift.h"
#include "trigger/StrokeEvent.h"

#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QListWidget;
class QPushButton;
class QSpinBox;
class QTimer;
struct SpeedPlanRecord;

// The click the plan plays through (a QX_ClickPlayer in the program).
class SpeedClickOutput {
public:
    virtual ~SpeedClickOutput() = default;
    // Opens the output and starts its stream (silent until a segment comes).
    virtual bool start() = 0;
    virtual bool schedule(const ClickSegment& segment) = 0;
    // Output frames minus monotonic seconds times the rate; empty until known.
    virtual std::optional<double> streamOffsetFrames() const = 0;
    // The output's fitted line against the monotonic clock; empty until known.
    virtual std::optional<StreamLine> streamLine() const { return std::nullopt; }
    virtual double rate() const = 0;
};

// The measurement's strokes so far and where their clock stands.
struct SpeedStrokeFeed {
    const std::vector<StrokeEvent>* strokes = nullptr; // the run in progress; may restart from empty
    std::int64_t ticksPerSecond = kAudioTicksPerSecond;
    std::optional<double> clockOffsetTicks;            // the trigger's clock against the monotonic clock
    std::optional<StreamLine> clockLine;               // its fitted line, once known
};

struct SpeedBuilderHooks {
    std::function<double()> monotonicS;                       // unset: the steady clock
    std::function<std::unique_ptr<SpeedClickOutput>()> makeOutput; // unset: the click's output device
    std::function<void()> armMeasurement;                     // a fresh measurement, no other click
    std::function<SpeedStrokeFeed()> strokes;
    // Keeps the plan (a new row without an id, else that row); the row's id,
    // empty when it could not. Unset: the user's journal.
    std::function<std::optional<std::int64_t>(const SpeedPlanRecord&)> keepPlan;
    std::function<std::int64_t()> nowUtcMs;                   // unset: the wall clock
};

class SpeedBuilderWindow : public QWidget {
    Q_OBJECT

public:
    // How long after a repetition's last grid point its strokes are taken
    // as all in: the capture's period, the detector's look-ahead and a tick.
    static constexpr double kSettleS = 0.25;
    // How long the click's output and the trigger may take to report their clocks.
    static constexpr double kClockWaitS = 10.0;

    explicit SpeedBuilderWindow(SpeedBuilderHooks hooks, QWidget* parent = nullptr);
    ~SpeedBuilderWindow() override;

    void showModeless();
    bool isRunning() const;
    QString statusText() const;
    // The plan as the fields set it.
    SpeedPlan plan() const;
    // For tests: one step of the 30 ms timer.
    void tick();

    void start();
    void stop();

private:
    // False when the click refused it (the plan has then ended).
    bool scheduleRepetition();
    void takeStrokes(const SpeedStrokeFeed& feed);
    void finish(const QString& why);
    // Keeps the plan as far as it has gone; false when the journal did not take it.
    bool keepPlan(const SpeedBuilder& builder);
    void setStatus(const QString& text);

    SpeedBuilderHooks m_hooks;
    QSpinBox* m_startBpm = nullptr;
    QSpinBox* m_stepBpm = nullptr;
    QSpinBox* m_targetBpm = nullptr;
    QSpinBox* m_bars = nullptr;
    QComboBox* m_grid = nullptr;
    QSpinBox* m_minWithin = nullptr;
    QSpinBox* m_windowMs = nullptr;
    QPushButton* m_startStop = nullptr;
    QLabel* m_status = nullptr;
    QLabel* m_best = nullptr;
    QListWidget* m_results = nullptr;
    QTimer* m_timer = nullptr;

    std::unique_ptr<SpeedBuilder> m_builder;
    std::unique_ptr<SpeedClickOutput> m_output;
    // The output's line and the strokes' clock line, when both are known
    // (set on each tick): the repetitions are placed and timed through them.
    std::optional<StreamLine> m_outputLine;
    std::optional<StreamLine> m_strokeLine;
    std::int64_t m_planStartUtcMs = 0;
    std::int64_t m_planId = 0; // its journal row, once kept
    double m_clockWaitSinceS = 0.0;
    std::size_t m_strokesTaken = 0;
    std::size_t m_resultsShown = 0;
};
