#pragma once
// The Competition window: one drummer's attempt at a time, for an organiser
// with a judge watching. The organiser names the competition, the drummer
// and the round (heat or final), picks the recording time (60 s unless
// told otherwise) and the start ("at the first stroke", or "on go" after a
// beeped 3-2-1), and arms. During the attempt the window shows only the
// drummer, the round and the count, large. An end signal sounds when the
// recording time is over; the attempt is then kept with its audit recording
// and sealed (see AuditStore), and its result sheet can be saved as PDF or
// printed. Recount checks the final picked in the ranking, or else the
// last attempt, as tempovaro-count --verify does.
// Below, every drummer's heats with the best one, and the ranking of the
// finals, which exports as CSV.
//
// The window measures with a trigger device of its own, built from the
// device settings through CreateTriggerDevice (tests hand it theirs there);
// the main window gives its device up while this window is open.
//
// Threads: user-interface thread; the device's capture thread only fills
// the device's counters and the audit writer's tap. Time is the program's
// millisecond tick, and tests drive tick() themselves.

#include "analysis/RunFigures.h"
#include "analysis/RunRecord.h"
#include "audit/AttemptFlow.h"
#include "audit/AuditRecord.h"
#include "audit/AuditWriter.h"

#include <QDialog>

#include <memory>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;
class QTimer;
class QWidget;
class QX_ClickPlayer;
class TQX_TriggerDevice;

class CompetitionWindow : public QDialog {
    Q_OBJECT
public:
    // folder: where attempts are kept (the journal's audit folder by default).
    explicit CompetitionWindow(QString version, QWidget* parent = nullptr, QString folder = auditFolder());
    ~CompetitionWindow() override;

    // One look at the device; the window's timer calls it every 30 ms.
    void tick();
    // Tests: no timer, no sound; they call tick() themselves.
    void setManualTicks(bool manual);

    AttemptFlow::Phase phase() const { return m_flow.phase(); }
    // True from Arm until the attempt is kept or given up.
    bool attemptRunning() const { return m_device != nullptr; }
    // The attempt kept last (id 0 before any).
    const AuditRecord& lastAttempt() const { return m_last; }
    // The running attempt's audit tap, or none: tests that play faster than
    // real time wait on it so its ring never fills.
    const SampleTap* auditTap() const { return m_writer ? &m_writer->tap() : nullptr; }

public slots:
    void arm();
    void stop();
    void recount();

signals:
    void attemptKept(std::int64_t id);
    // The attempt kept, as a run for the journal: its strokes, its device,
    // and the attempt's id and digest that lead to its audit recording.
    void attemptRun(const RunRecord& run);

private:
    void buildUi();
    void showAttemptView(bool attempt);
    void finishAttempt();
    void keepAttempt(std::int64_t ticksPerSecond);
    void refreshStandings();
    void saveSheet();
    void printSheet();
    void exportRanking();
    void setStatus(const QString& text);
    void playSignal(std::vector<std::int16_t> samples);

    QString m_version;
    QString m_folder;
    AttemptFlow m_flow;
    std::unique_ptr<TQX_TriggerDevice> m_device;
    std::unique_ptr<AuditWriter> m_writer;
    std::unique_ptr<QX_ClickPlayer> m_player; // the countdown and the end signal
    std::vector<StrokeEvent> m_strokes;
    std::int64_t m_goSample = -1;    // tap position of go, -1 before it
    std::uint32_t m_dropoutsAtStart = 0;
    std::uint32_t m_endedMs = 0;     // when the recording time was over
    bool m_ending = false;           // waiting for the audit's last second
    bool m_manualTicks = false;
    bool m_usesTap = false;
    AuditRecord m_pending;           // the attempt being measured
    AuditRecord m_last;
    RunAnalysis m_lastAnalysis;
    std::int64_t m_armedUtcMs = 0;   // when the attempt was armed

    QWidget* m_setup = nullptr;
    QLineEdit* m_competition = nullptr;
    QLineEdit* m_drummer = nullptr;
    QComboBox* m_round = nullptr;
    QComboBox* m_time = nullptr;
    QComboBox* m_start = nullptr;
    QLabel* m_name = nullptr;
    QLabel* m_count = nullptr;
    QLabel* m_status = nullptr;
    QPushButton* m_arm = nullptr;
    QPushButton* m_stop = nullptr;
    QPushButton* m_recount = nullptr;
    QPushButton* m_sheet = nullptr;
    QPushButton* m_print = nullptr;
    QWidget* m_standings = nullptr;
    QTableWidget* m_heats = nullptr;
    QTableWidget* m_ranking = nullptr;
    QTimer* m_timer = nullptr;
};
