#pragma once
// RunKeeper: where the main window's runs go. Every run that ends is handed
// to the journal (written on the journal writer's own thread) and shown in
// the run report window; the run in progress is followed there live.
//
// The journal writer and the report and journal windows are made when first
// needed, so starting the program costs nothing for them: a drummer who never
// opens the report pays for the journal only at the end of the first run.
//
// Nothing is lost without a word: runs the journal has not taken when the
// program closes are, as the drummer chooses, waited for, saved as a CSV
// file, or kept aside in a small file that the next start adds to the
// journal; a close nobody can answer (a termination signal, a logout) keeps
// them aside at once, and if even that fails prints them on stderr. Runs the
// journal refuses are also copied to that file as soon as it refuses them,
// for an end that never reaches a close.
//
// Threads: user-interface thread only. Ownership: owns the writer and both
// windows (they have no parent, so each is a window of its own).

#include "analysis/RunRecord.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class JournalWindow;
class JournalWriter;
class RunReportWindow;

class RunKeeper : public QObject {
    Q_OBJECT
public:
    enum class CloseChoice { Wait, SaveAsCsv, KeepForNextStart };
    // Replaceable dialogs, so closing runs unattended in tests.
    struct Dialogs {
        // Runs still wait for the journal at a close: what now?
        std::function<CloseChoice(int waitingRuns, const QString& reason)> askAtClose;
        // Where to save them as CSV; empty when cancelled.
        std::function<QString()> chooseCsvFile;
        // Tells the user something went wrong, or what was done about it.
        std::function<void(const QString& message)> tell;
    };

    // journalPath empty: the user's journal ($XDG_DATA_HOME/Tempovaro/journal.sqlite).
    explicit RunKeeper(QString journalPath = {}, QObject* parent = nullptr);
    ~RunKeeper() override;

    void runEnded(const RunRecord& run);
    void runProgress(const RunRecord& run);
    // Opens the report: the run in progress when there is one, else the run
    // that ended last.
    void showReport(const RunRecord* inProgress);
    // Shows a run from the journal in the report window.
    void showStoredRun(const RunRecord& run);
    // Opens the journal window; a run opened there shows in the report.
    void showJournal();

    RunReportWindow* reportWindow() const { return m_report.get(); }
    JournalWindow* journalWindow() const { return m_journalWindow.get(); }
    JournalWriter* journal() const { return m_journal.get(); }
    const std::optional<RunRecord>& lastRun() const { return m_lastRun; }
    // Waits (bounded) until the journal has tried every run handed to it.
    bool waitForJournal(int timeoutMs);

    void setDialogs(Dialogs dialogs);
    // The program is closing: every run handed over reaches the journal, a
    // file the user chose, or the file kept aside for the next start, and
    // the user hears of every run that did not reach the journal. mayAsk
    // false: nobody is there to answer. Idempotent; the destructor calls it
    // unattended.
    void closeJournal(bool mayAsk);
    // A copy of the waiting runs, kept aside without stopping the journal,
    // for a session that may end without a close.
    void keepWaitingRunsAside();

private:
    RunReportWindow& report();
    JournalWriter& journalWriter();
    void showJournalStatus(const QString& text);
    void journalDamaged(const QString& path, const QString& detail);
    // Unattended: into the file kept aside, else on stderr; says which.
    void keepAside(const std::vector<RunRecord>& runs, const QString& reason);
    bool saveAsCsv(const std::vector<RunRecord>& runs, const QString& path, const QString& journalReason);

    QString m_journalPath;
    std::unique_ptr<JournalWriter> m_journal;
    std::unique_ptr<RunReportWindow> m_report;
    std::unique_ptr<JournalWindow> m_journalWindow;
    std::optional<RunRecord> m_lastRun;
    QString m_journalStatus;
    QString m_reportedMove;
    Dialogs m_dialogs;
    bool m_closed = false;
};
