#include "JournalWriter.h"

#include <QFileInfo>
#include <QMetaObject>

#include <chrono>

QString JournalStatus::text() const
{
    if (!opened)
        return QStringLiteral("Journal: opening");
    const QString runs = waitingRuns == 1 ? QStringLiteral("this run is") : QStringLiteral("%1 runs are").arg(waitingRuns);
    if (problem == JournalProblem::NewerSchema)
        return QStringLiteral("Journal made by a newer Tempovaro, left untouched: ") +
               (waitingRuns == 0 ? QStringLiteral("runs are not kept") : runs + QStringLiteral(" not kept"));
    if (problem != JournalProblem::None)
        return QStringLiteral("Journal unavailable (%1): ").arg(reason) +
               (waitingRuns == 0 ? QStringLiteral("runs are not kept")
                                 : runs + QStringLiteral(" kept in memory and retried"));
    QString line = keptRuns == 1 ? QStringLiteral("Journal: 1 run kept") : QStringLiteral("Journal: %1 runs kept").arg(keptRuns);
    if (waitingRuns > 0)
        line += QStringLiteral(", %1 being written").arg(waitingRuns);
    if (!movedAsideTo.isEmpty())
        line += QStringLiteral(" (a damaged journal was moved to %1)").arg(QFileInfo(movedAsideTo).fileName());
    return line;
}

JournalWriter::JournalWriter(Options options, QObject* parent)
    : QObject(parent), m_options(std::move(options))
{
    m_worker = std::thread([this] { work(); });
}

JournalWriter::JournalWriter(QObject* parent)
    : JournalWriter(Options{}, parent)
{
}

JournalWriter::~JournalWriter()
{
    finish(kCloseWaitMs);
}

void JournalWriter::setSummaryHook(RunSummaryHook hook)
{
    std::lock_guard lock(m_mutex);
    m_summaryHook = std::move(hook);
}

bool JournalWriter::submit(RunRecord run)
{
    if (run.count <= 0)
        return false;
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping)
            return false;
        m_queue.push_back(std::move(run));
        m_status.waitingRuns = static_cast<int>(m_queue.size()) + m_inFlight;
        ++m_requested;
    }
    m_wake.notify_one();
    return true;
}

void JournalWriter::retryNow()
{
    {
        std::lock_guard lock(m_mutex);
        ++m_requested;
    }
    m_wake.notify_one();
}

JournalStatus JournalWriter::status() const
{
    std::lock_guard lock(m_mutex);
    return m_status;
}

bool JournalWriter::waitIdle(int timeoutMs)
{
    std::unique_lock lock(m_mutex);
    const std::uint64_t target = m_requested;
    return m_progress.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                               [&] { return m_attempted >= target || m_stopped; }) &&
           m_attempted >= target;
}

int JournalWriter::finish(int timeoutMs)
{
    std::unique_lock lock(m_mutex);
    if (m_worker.joinable()) {
        m_stopping = true;
        ++m_requested;
        m_wake.notify_one();
        if (!m_progress.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_stopped; }))
            m_abandon = true; // the run being written completes; the rest stay unwritten
        lock.unlock();
        m_worker.join();
        lock.lock();
    }
    return static_cast<int>(m_queue.size());
}

void JournalWriter::work()
{
    JournalDatabase db(m_options.path);
    std::unique_lock lock(m_mutex);
    for (;;) {
        const auto due = [&] { return m_requested > m_attempted || m_stopping; };
        // Waiting runs are retried on their own after the interval.
        if (m_queue.empty())
            m_wake.wait(lock, due);
        else if (!m_wake.wait_for(lock, std::chrono::milliseconds(m_options.retryIntervalMs), due))
            ++m_requested;
        const std::uint64_t target = m_requested;
        const bool last = m_stopping;
        if (!m_abandon) {
            lock.unlock();
            attempt(db);
            lock.lock();
        }
        m_attempted = target;
        if (last || m_abandon) {
            m_stopped = true;
            m_progress.notify_all();
            break;
        }
        m_progress.notify_all();
    }
    lock.unlock();
    db.close();
}

void JournalWriter::attempt(JournalDatabase& db)
{
    if (!db.isOpen() && !db.open(m_options.database)) {
        JournalStatus s;
        s.opened = true;
        s.problem = db.problem();
        s.reason = db.problemReason();
        s.movedAsideTo = db.movedAsideTo();
        publish(std::move(s));
        return;
    }
    for (;;) {
        RunRecord run;
        {
            std::lock_guard lock(m_mutex);
            if (m_queue.empty() || m_abandon)
                break;
            run = std::move(m_queue.front());
            m_queue.pop_front();
            m_inFlight = 1;
            db.setSummaryHook(m_summaryHook);
        }
        const auto id = db.addRun(run);
        std::lock_guard lock(m_mutex);
        m_inFlight = 0;
        if (!id) {
            m_queue.push_front(std::move(run));
            break;
        }
        m_status.lastRunId = *id;
    }

    JournalStatus s;
    s.opened = true;
    s.problem = db.problem();
    s.reason = db.problemReason();
    s.movedAsideTo = db.movedAsideTo();
    const JournalProblem writeProblem = db.problem();
    if (writeProblem == JournalProblem::None || writeProblem == JournalProblem::NewerSchema)
        s.keptRuns = db.countRuns().value_or(-1);
    s.problem = writeProblem;
    // Reopen on the next attempt: the folder may have become writable or the
    // lock may have moved on, and a fresh connection sees it.
    if (writeProblem != JournalProblem::None && writeProblem != JournalProblem::NewerSchema)
        db.close();
    publish(std::move(s));
}

void JournalWriter::publish(JournalStatus s)
{
    QString text;
    {
        std::lock_guard lock(m_mutex);
        s.lastRunId = m_status.lastRunId;
        s.waitingRuns = static_cast<int>(m_queue.size()) + m_inFlight;
        const bool changed = s.text() != m_status.text();
        m_status = s;
        if (!changed)
            return;
        text = s.text();
    }
    QMetaObject::invokeMethod(
        this, [this, text] { emit statusChanged(text); }, Qt::QueuedConnection);
}
