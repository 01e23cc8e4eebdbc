#pragma once
// TMainForm: the main window. It drives its measurement session every 30 ms,
// shows the count, BPM or frequency with a stopwatch, keeps the score list of
// the chosen recording time and lays everything out in proportion to the
// window. The session measures; the window paints what it reports, and its
// menu items and keys forward to it.
//
// Threads: user-interface thread only.
//
// Units: times in milliseconds (TimeLimit -1 = endless), font sizes in
// points, pictures as 24-bit QImage::Format_BGR888.

#include "session/MeasurementSession.h"

#include <QImage>
#include <QMainWindow>

#include <cstdint>
#include <functional>
#include <memory>

class QFrame;
class QKeyEvent;
class QLabel;
class QPainter;
class QTimer;
class MainMenu;
class ScoreGrid;

class TMainForm : public QMainWindow, private MeasurementDisplay {
    Q_OBJECT

public:
    // The windows the main window opens but does not own. Unset hooks do nothing.
    struct Companions {
        std::function<void()> ShowDeviceDialog; // modeless
        std::function<void()> ShowHelp;         // modeless
        std::function<void()> ShowAboutModal;   // returns when the box is closed
        std::function<void()> ShowRunReport{};    // modeless
        std::function<void()> ShowJournal{};      // modeless
        std::function<void()> ShowClick{};        // modeless
        std::function<void()> ShowSpeedBuilder{}; // modeless
        // A measurement was armed and waits for its first stroke (true), or
        // it finished (false): the click starts and stops with it.
        std::function<void(bool armed)> MeasurementArmed{};
        // Returns when the competition window is closed; it measures with a
        // device of its own meanwhile.
        std::function<void()> ShowCompetitionModal{};
        // A run ended (finished, record, cut short, stopped or device lost) with at least one stroke.
        std::function<void(const RunRecord&)> RunEnded{};
        // The run in progress, at most every kRunProgressIntervalMs while strokes come in.
        std::function<void(const RunRecord&)> RunProgress{};
    };
    static constexpr std::uint32_t kRunProgressIntervalMs = MeasurementSession::kRunProgressIntervalMs;

    // manualTicks: GUITimer never really runs; the caller drives GUITimerTimer
    // (tests and benchmarks). "Enabled" is still tracked by IsGUITimerEnabled.
    explicit TMainForm(QWidget* parent = nullptr, bool manualTicks = false);
    ~TMainForm() override;

    void setCompanions(Companions companions);
    // Says whether the device dialog shows its meter; while it does, the
    // session leaves the device alone. Unset: never.
    void setDeviceDialogOpenQuery(std::function<bool()> isOpen);
    MeasurementSession& session() { return *m_session; }
    void ResetMeasurement();
    // A companion takes the input device (the competition, a latency
    // calibration): the run going ends, the device is freed and the tick
    // stops until ResetMeasurement() arms a measurement again.
    void lendInput();

    // Menu items.
    void ResetClick();
    void ExitClick();
    void NT10Click();
    void NT20Click();
    void NT30Click();
    void NT40Click();
    void NT50Click();
    void NT60Click();
    void EndlessClick();
    void SelectInputDeviceClick();
    void AutoResetClick();
    void MenuBPMFactorClick();
    void CountClick();
    void SpeedClick();
    void FrequencyClick();
    void TimeClick();
    void HighScoresClick();
    void Contents1Click();
    void Info1Click();
    void RunReportClick();
    void JournalClick();
    void ClickWindowClick();
    void SpeedBuilderClick();
    void CompetitionClick();

    // The 30 ms tick.
    void GUITimerTimer();

    // Score list events (forwarded by the grid, coordinates inside its frame).
    void ResultGridDrawCell(QPainter& painter, int ACol, int ARow, const QRect& Rect);
    void ResultGridKeyDown(QKeyEvent* event);
    void ResultGridMouseDown(Qt::MouseButton button, int X, int Y);
    void ResultGridMouseWheelDown();
    void ResultGridMouseWheelUp();

    // Window events (called by the toolkit events; public for tests and benchmarks).
    void FormActivate();
    void FormResize();

    // Read-only views of the window's state, for tests and benchmarks.
    TMeasureState measureState() const { return m_session->state(); }
    std::int64_t idleTimeMs() const { return m_session->idleTimeMs(); }
    std::int32_t clockSeconds() const { return ClockSeconds; }
    std::int32_t lastCount() const { return m_session->lastCount(); }
    bool deviceDialogDue() const { return ShowDeviceDialogOnActivate; }
    std::int32_t valueFontSize() const { return ValueFontSize; }
    std::int32_t valueFontSizeSmall() const { return ValueFontSizeSmall; }
    bool isGUITimerEnabled() const { return m_guiTimerEnabled; }
    const QImage& clockCanvas() const { return m_image4; }
    int clockDrawCount() const { return m_clockDrawCount; }
    const QImage& backgroundImage() const { return m_image6; }
    const QImage& stopwatchImage() const { return m_image3; }
    const RunTracker& runTracker() const { return m_session->runTracker(); }
    QWidget* clientArea() const;
    // The line the ready display shows while no trigger device delivers, or
    // after a run whose device stopped delivering; empty otherwise.
    QString deviceHint() const;
    // The program ends without a close (the display went away): the run in
    // progress goes to the companions as cut short, nothing else is done.
    void endRunAtExit() { m_session->endRunAtExit(); }

signals:
    // Emitted after the close sequence has stored settings and scores.
    void formClosed();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class ClientArea;
    void keepMinimumSize(QSize newSize);
    friend class ClientArea;

    void createControls();
    void createMenu();
    void connectSession();
    void FormCreate();
    void FormClose();
    void FormPaint(QPainter& painter, const QRect& dirty);

    void SetDisplayState(TMeasureState NewState);
    void showState(TMeasureState NewState);
    void SetTimeLimit(std::int32_t Milliseconds);
    void showValue(std::int32_t count, float strokesPerSecond, bool newStroke) override;
    void showClock(std::int32_t seconds) override;
    void showCount(std::int32_t count);
    void showHint(const QString& hint);
    void ApplyDisplayMode();
    void DrawClock();
    void FillScoreGrid();
    void placeDeviceHint();
    void giveKeysToScoreList();

    void setGUITimerEnabled(bool enabled);
    void setLabelText(QLabel* label, const QString& text);
    void setLabelFontSize(QLabel* label, int points);
    void setLabelColor(QLabel* label, QColor color);
    void placeValueLabelTop();
    void centreLabel(QLabel* label);
    int clientWidth() const;
    int clientHeight() const;

    // Fields of the display.
    bool ShowDeviceDialogOnActivate = false;
    std::int32_t ClockSeconds = 0;
    std::int32_t ClockDrawnSeconds = -1;
    std::int32_t ValueFontSize = 0;
    std::int32_t ValueFontSizeSmall = 0;

    QImage m_image1;       // Image1: the background picture as loaded, never shown
    QImage m_image2;       // Image2: the stopwatch picture as loaded, never shown
    QImage m_image3;       // Image3: the stopwatch scaled to the window
    QImage m_image4;       // Image4: the canvas the clock is composed on
    QImage m_image6;       // Image6: the background resampled to the client area, painted under everything
    QImage m_clockOverlay; // Image4 with its backdrop transparent, as painted
    bool m_paintingClient = false;
    bool m_clockPaintPending = false;
    int m_clockDrawCount = 0;

    ClientArea* m_client = nullptr;
    QLabel* LabelValue = nullptr;
    QLabel* LabelUnit = nullptr;
    ScoreGrid* ResultGrid = nullptr;
    QFrame* PanelCategory = nullptr;
    QLabel* PanelCategoryText = nullptr;
    QLabel* m_deviceHint = nullptr;
    QTimer* GUITimer = nullptr;
    bool m_manualTicks = false;
    bool m_guiTimerEnabled = false;
    bool m_closed = false;
    bool m_minimumSizeRequested = false;

    MeasurementSession* m_session = nullptr;
    std::unique_ptr<MainMenu> m_menu;
    Companions m_companions;
};
