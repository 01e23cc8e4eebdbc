#include "journal/JournalWriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>

#include <chrono>

QStringList keptAsidePaths(const QString& journalPath)
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || QDir::isRelativePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return {QFileInfo(journalPath).absolutePath() + QStringLiteral("/unsaved-runs.sqlite"),
            state + QStringLiteral("/Tempovaro/unsaved-runs.sqlite")};
}

QString keepRunsAside(const std::vector<RunRecord>& runs, const QStringList& paths, QString* reason)
{
    std::vector<JournalRun> kept;
    kept.reserve(runs.size());
    for (const RunRecord& run : runs)
        kept.push_back({run, {}});
    for (const QString& path : paths) {
        JournalDatabase db(path);
        if (db.open() && db.addRunsOnce(kept))
            return path;
        if (reason)
            *reason = db.problemReason();
    }
    return {};
}

QString JournalStatus::text() const
{
    if (!opened)
        return QStringLiteral("Journal: opening");
    const QString runs = waitingRuns == 1 ? QStringLiteral("this run is") : QStringLiteral("%1 runs are").arg(waitingRuns);
    if (problem == JournalProblem::Damaged)
        return QStringLiteral("Journal damaged, not written to: ") +
               (waitingRuns == 0 ? QStringLiteral("runs are not kept") : runs + QStringLiteral(" kept in memory"));
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
    if (runsBroughtBack > 0)
        line += runsBroughtBack == 1 ? QStringLiteral(", 1 run kept aside at a close added")
                                     : QStringLiteral(", %1 runs kept aside at a close added").arg(runsBroughtBack);
    if (!movedAsideTo.isEmpty())
        line += QStringLiteral(" (a damaged journal was moved to %1)").arg(movedAsideTo);
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

std::vector<RunRecord> JournalWriter::takeUnwritten()
{
    std::lock_guard lock(m_mutex);
    if (!m_stopped)
        return {};
    std::vector<RunRecord> runs(std::make_move_iterator(m_queue.begin()), std::make_move_iterator(m_queue.end()));
    m_queue.clear();
    m_status.waitingRuns = 0;
    return runs;
}

std::vector<RunRecord> JournalWriter::waitingRuns() const
{
    std::lock_guard lock(m_mutex);
    return {m_queue.begin(), m_queue.end()};
}

void JournalWriter::startNewJournal()
{
    {
        std::lock_guard lock(m_mutex);
        m_startAfresh = true;
        ++m_requested;
    }
    m_wake.notify_one();
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

bool JournalWriter::openJournal(JournalDatabase& db)
{
    JournalDatabase::Options options = m_options.database;
    // Damage anywhere is found before a run is added to the file, and the
    // file is moved aside only once the user knows.
    options.checkWhole = true;
    {
        std::lock_guard lock(m_mutex);
        options.moveAsideDamaged = m_startAfresh;
    }
    if (!db.open(options))
        return false;
    {
        std::lock_guard lock(m_mutex);
        m_startAfresh = false;
        m_damageReported = false;
    }
    return true;
}

void JournalWriter::bringBackKeptRuns(JournalDatabase& db)
{
    if (db.isReadOnly())
        return;
    for (const QString& path : m_options.keptAsidePaths) {
        if (!QFileInfo::exists(path) || QFileInfo(path) == QFileInfo(db.path()))
            continue;
        std::vector<JournalRun> runs;
        {
            JournalDatabase kept(path);
            JournalDatabase::Options readOnly;
            readOnly.readOnly = true;
            // The user-interface thread may be adding copies to it right now.
            readOnly.throughLocks = true;
            if (!kept.open(readOnly))
                continue;
            const std::vector<JournalRun> listed = kept.listRuns();
            bool whole = kept.problem() == JournalProblem::None;
            for (std::size_t k = 0; whole && k < listed.size(); ++k) {
                std::optional<JournalRun> run = kept.loadRun(listed[k].run.id);
                whole = run && kept.problem() == JournalProblem::None;
                if (whole)
                    runs.push_back(std::move(*run));
            }
            // A file we cannot read whole stays where it is for whoever can.
            if (!whole)
                continue;
        }
        RunSummaryHook hook;
        {
            std::lock_guard lock(m_mutex);
            hook = m_summaryHook;
        }
        for (JournalRun& j : runs) {
            j.run.id = 0;
            try {
                j.summary = hook ? hook(j.run) : RunSummary{};
            } catch (...) {
                j.summary = RunSummary{};
            }
        }
        const std::optional<int> added = db.addRunsOnce(runs);
        if (!added)
            return;
        for (const auto* suffix : {"", "-wal", "-shm"})
            QFile::remove(path + QLatin1String(suffix));
        std::lock_guard lock(m_mutex);
        m_broughtBack += *added;
    }
}

void JournalWriter::reportDamage(const JournalDatabase& db)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_damageReported)
            return;
        m_damageReported = true;
    }
    const QString path = db.path();
    const QString detail = db.problemDetail();
    QMetaObject::invokeMethod(
        this, [this, path, detail] { emit damageFound(path, detail); }, Qt::QueuedConnection);
}

void JournalWriter::attempt(JournalDatabase& db)
{
    if (!db.isOpen() && !openJournal(db)) {
        JournalStatus s;
        s.opened = true;
        s.problem = db.problem();
        s.reason = db.problemReason();
        s.movedAsideTo = db.movedAsideTo();
        if (db.isDamaged())
            reportDamage(db);
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

    // Kept runs come after the queue: copies of queued runs kept meanwhile
    // are then found in the journal and not added twice.
    if (db.problem() == JournalProblem::None)
        bringBackKeptRuns(db);

    JournalStatus s;
    s.opened = true;
    s.reason = db.problemReason();
    s.movedAsideTo = db.movedAsideTo();
    const JournalProblem writeProblem = db.problem();
    if (writeProblem == JournalProblem::None || writeProblem == JournalProblem::NewerSchema)
        s.keptRuns = db.countRuns().value_or(-1);
    s.problem = writeProblem;
    if (writeProblem == JournalProblem::Damaged)
        reportDamage(db);
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
        s.runsBroughtBack = m_broughtBack;
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

#include "moc_JournalWriter.cpp"
