#pragma once
// JournalWriter: writes finished runs to the journal on its own worker
// thread, so the measurement never waits for the disk.
//
// Threads: construct, submit, retryNow, finish and destroy on the
// user-interface thread; status() and waitIdle() from any thread. The worker
// owns its JournalDatabase (QtSql connections are per thread) and is the only
// one to touch it. statusChanged is delivered queued on the writer's thread.
//
// Nothing is lost quietly: a run that cannot be written (journal folder
// read-only, disk full, journal locked by another Tempovaro past the busy
// timeout) stays queued in memory and is tried again after retryIntervalMs,
// on the next submit or on retryNow(); the status says how many wait. At
// close, finish() gives pending runs a bounded time to be written and says
// how many were left; takeUnwritten() hands them over, and keepRunsAside()
// stores them in a small journal of their own that a writer adds to the
// journal once it takes runs again (Options::keptAsidePaths).
//
// A damaged journal (SQLite finds a page it cannot read, when opening or
// writing) is not written to: runs wait in memory, damageFound is emitted
// once, and only after startNewJournal(), called once the user has been
// told, is the damaged file moved aside and a new journal started.

#include "journal/JournalDatabase.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

// One plain line for the Run Report window: text().
// Where runs that could not reach the journal at a close are kept: beside
// the journal, else in $XDG_STATE_HOME/Tempovaro (default ~/.local/state).
QStringList keptAsidePaths(const QString& journalPath);

// Stores the runs in the first of paths that takes them (a journal file of
// their own, private to the user); where, or empty with the reason.
QString keepRunsAside(const std::vector<RunRecord>& runs, const QStringList& paths, QString* reason);

struct JournalStatus {
    bool opened = false;          // an attempt has been made
    JournalProblem problem = JournalProblem::None;
    QString reason;               // JournalDatabase::problemReason()
    std::int64_t keptRuns = -1;   // runs in the journal, -1 unknown
    int waitingRuns = 0;          // submitted, not yet written
    std::int64_t lastRunId = 0;   // id of the newest run this writer wrote
    QString movedAsideTo;         // where a non-database journal file went
    int runsBroughtBack = 0;      // runs kept aside at an earlier close, now in the journal
    QString text() const;
};

class JournalWriter : public QObject {
    Q_OBJECT
public:
    struct Options {
        QString path = JournalDatabase::defaultPath();
        JournalDatabase::Options database;
        int retryIntervalMs = 15000;
        // Files of runs kept aside (at an earlier close, or while the journal
        // refused them): added to the journal, each run once, after the
        // queue whenever the journal takes runs, then removed.
        QStringList keptAsidePaths;
    };
    static constexpr int kCloseWaitMs = 3000;

    explicit JournalWriter(Options options, QObject* parent = nullptr);
    explicit JournalWriter(QObject* parent = nullptr);
    ~JournalWriter() override; // finish(kCloseWaitMs)

    // Before the first submit: computes each run's figures on the worker.
    void setSummaryHook(RunSummaryHook hook);
    // Queues the run and returns at once. Runs without a counted stroke are
    // not journal material: false, nothing queued.
    bool submit(RunRecord run);
    // Wakes the worker to try the waiting runs now.
    void retryNow();
    JournalStatus status() const;
    // Waits (at most timeoutMs) until every run submitted and every retry
    // asked for so far has had its attempt; true when that happened.
    bool waitIdle(int timeoutMs);
    // Asks the worker for a last attempt, waits at most timeoutMs for it,
    // stops the worker and returns how many runs stay unwritten. Idempotent.
    int finish(int timeoutMs);
    // After finish: the runs that were never written, handed to the caller,
    // who must keep them somewhere or tell the user.
    std::vector<RunRecord> takeUnwritten();
    // A copy of the runs waiting now, in order.
    std::vector<RunRecord> waitingRuns() const;
    // The user knows the journal is damaged: move it aside and start anew.
    void startNewJournal();

signals:
    void statusChanged(const QString& text);
    // The journal at path is damaged; runs wait in memory until
    // startNewJournal(). Emitted once per damaged file, queued.
    void damageFound(const QString& path, const QString& detail);

private:
    void work();
    // Worker: opens the journal if needed and writes the queue in order.
    void attempt(JournalDatabase& db);
    bool openJournal(JournalDatabase& db);
    void bringBackKeptRuns(JournalDatabase& db);
    void reportDamage(const JournalDatabase& db);
    void publish(JournalStatus status);

    const Options m_options;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_progress;
    std::deque<RunRecord> m_queue;
    int m_inFlight = 0;           // a run taken off the queue, being written
    std::uint64_t m_requested = 1; // the first attempt opens the journal
    std::uint64_t m_attempted = 0;
    bool m_stopping = false;
    bool m_abandon = false;      // finish ran out of time: stop after this run
    bool m_stopped = false;
    bool m_damageReported = false; // damageFound sent, startNewJournal not yet called
    bool m_startAfresh = false;
    int m_broughtBack = 0;
    RunSummaryHook m_summaryHook;
    JournalStatus m_status;
    std::thread m_worker;
};
