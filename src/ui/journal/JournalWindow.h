#pragma once
// JournalWindow: the practice journal to browse, chart and export. A
// modeless window titled "Journal": the runs newest first with filters by
// recording time and period, the progress chart of the chosen recording
// time, export of the runs in view and of one run's strokes, and deletion of
// runs (the only place the program deletes data; the score list and its file
// are never touched).
//
// The journal is opened when the window is first shown, never at start-up.
// The first time it is found empty, the scores of the score file are offered
// for import.
//
// Thread: the user-interface thread; the window owns its JournalDatabase
// connection. Enter or a double-click on a run emits openRunRequested with
// the run's id; the main program shows that run's report.

#include "journal/JournalDatabase.h"

#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class JournalProgressChart;
class JournalTableModel;
class QComboBox;
class QLabel;
class QPushButton;
class QTableView;

// The period filter, counted back from now.
enum class JournalPeriod { LastWeek, LastMonth, LastYear, All };

// The runs a choice of recording time (none: all of them) and period shows.
RunFilter journalFilter(std::optional<std::int32_t> recordingTimeMs, JournalPeriod period, std::int64_t nowUtcMs);

class JournalWindow : public QWidget {
    Q_OBJECT
public:
    // Asks a yes/no question; true for yes.
    using Confirm = std::function<bool(QWidget* parent, const QString& question)>;
    // Asks for the file to export to; empty when cancelled.
    using ChooseFile = std::function<QString(QWidget* parent, const QString& title, const QString& suggestedName)>;
    // Tells the user of a failure.
    using Warn = std::function<void(QWidget* parent, const QString& message)>;

    explicit JournalWindow(QString journalPath = JournalDatabase::defaultPath(),
                           QString scoreFilePath = QStringLiteral("Tempovaro.qxs"), QWidget* parent = nullptr);
    ~JournalWindow() override;

    // Replaceable dialogs, so the window runs unattended in tests.
    void setConfirm(Confirm confirm) { m_confirm = std::move(confirm); }
    void setChooseFile(ChooseFile chooseFile) { m_chooseFile = std::move(chooseFile); }
    void setWarn(Warn warn) { m_warn = std::move(warn); }

    // A run with its strokes, for the run report; nothing when the journal is
    // not open or has no such run.
    std::optional<RunRecord> loadRun(std::int64_t id);

    // Recording time: std::nullopt for all, -1 endless, else milliseconds.
    void setRecordingTimeFilter(std::optional<std::int32_t> recordingTimeMs);
    void setPeriodFilter(JournalPeriod period);

    // Writes the runs in view, or the selected run's strokes, to path; on
    // failure tells the user which file and why, and leaves no file there.
    bool exportRunsTo(const QString& path);
    bool exportStrokesTo(const QString& path);

    JournalTableModel* model() const { return m_model; }
    QTableView* table() const { return m_table; }
    JournalProgressChart* progressChart() const { return m_chart; }
    QString statusText() const;

public slots:
    // Lists the runs again, e.g. after a run was written. The window also
    // does this itself when it becomes active and the journal has changed.
    void refresh();

signals:
    void openRunRequested(qint64 id);

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool ensureOpen();
    void offerImport();
    void openCurrent();
    void deleteSelected();
    void exportRuns();
    void exportStrokes();
    std::vector<std::int64_t> selectedIds() const;
    std::optional<std::int32_t> chosenRecordingTime() const;
    // The status line: how many runs are listed, and the last notice.
    void setStatus(const QString& notice);
    void showStatus();
    void updateButtons();

    QString m_journalPath;
    QString m_scoreFilePath;
    std::unique_ptr<JournalDatabase> m_db;
    bool m_openTried = false;
    bool m_damageWarned = false;
    QString m_notice;
    std::optional<std::int64_t> m_listedTotal; // runs in the journal at the last listing
    Confirm m_confirm;
    ChooseFile m_chooseFile;
    Warn m_warn;

    JournalTableModel* m_model;
    QTableView* m_table;
    QComboBox* m_recordingTime;
    QComboBox* m_period;
    QPushButton* m_exportRuns;
    QPushButton* m_exportStrokes;
    QPushButton* m_delete;
    JournalProgressChart* m_chart;
    QLabel* m_status;
};

// The program's one journal window, made at the first call (so the journal
// is opened only when the drummer asks for it) and raised. openRun, taken at
// the first call, receives the id of each run the drummer opens. The window
// lives until the application quits.
JournalWindow* showJournalWindow(const std::function<void(std::int64_t)>& openRun);
