#pragma once
// RunKeeper: where the main window's runs go. Every run that ends is handed
// to the journal (written on the journal writer's own thread) and shown in
// the run report window; the run in progress is followed there live.
//
// The journal writer and the report and journal windows are made when first
// needed, so starting the program costs nothing for them: a drummer who never
// opens the report pays for the journal only at the end of the first run.
//
// Threads: user-interface thread only. Ownership: owns the writer and both
// windows (they have no parent, so each is a window of its own).

#include "RunRecord.h"

#include <QObject>
#include <QString>

#include <memory>
#include <optional>

class JournalWindow;
class JournalWriter;
class RunReportWindow;

class RunKeeper : public QObject {
    Q_OBJECT
public:
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

private:
    RunReportWindow& report();
    JournalWriter& journalWriter();
    void showJournalStatus(const QString& text);

    QString m_journalPath;
    std::unique_ptr<JournalWriter> m_journal;
    std::unique_ptr<RunReportWindow> m_report;
    std::unique_ptr<JournalWindow> m_journalWindow;
    std::optional<RunRecord> m_lastRun;
    QString m_journalStatus;
};
