#include "RunKeeper.h"

#include "JournalSummary.h"
#include "JournalWindow.h"
#include "JournalWriter.h"
#include "QX_RunReport.h"

RunKeeper::RunKeeper(QString journalPath, QObject* parent) : QObject(parent), m_journalPath(std::move(journalPath)) {}

// The writer's destructor gives runs still on their way a bounded time to
// reach the disk.
RunKeeper::~RunKeeper() = default;

JournalWriter& RunKeeper::journalWriter()
{
    if (!m_journal) {
        JournalWriter::Options options;
        if (!m_journalPath.isEmpty())
            options.path = m_journalPath;
        m_journal = std::make_unique<JournalWriter>(options);
        m_journal->setSummaryHook(&summarizeRun);
        connect(m_journal.get(), &JournalWriter::statusChanged, this, &RunKeeper::showJournalStatus);
    }
    return *m_journal;
}

RunReportWindow& RunKeeper::report()
{
    if (!m_report) {
        m_report = std::make_unique<RunReportWindow>();
        m_report->setJournalStatus(m_journalStatus);
    }
    return *m_report;
}

void RunKeeper::showJournalStatus(const QString& text)
{
    m_journalStatus = text;
    if (m_report)
        m_report->setJournalStatus(text);
}

void RunKeeper::runEnded(const RunRecord& run)
{
    m_lastRun = run;
    journalWriter().submit(run);
    if (m_report && m_report->isVisible())
        m_report->showRun(run);
}

void RunKeeper::runProgress(const RunRecord& run)
{
    if (m_report && m_report->isVisible())
        m_report->followLive(run);
}

void RunKeeper::showReport(const RunRecord* inProgress)
{
    RunReportWindow& window = report();
    if (inProgress)
        window.followLive(*inProgress);
    else if (m_lastRun)
        window.showRun(*m_lastRun);
    window.show();
    window.raise();
    window.activateWindow();
}

void RunKeeper::showStoredRun(const RunRecord& run)
{
    RunReportWindow& window = report();
    window.showRun(run);
    window.show();
    window.raise();
    window.activateWindow();
}

void RunKeeper::showJournal()
{
    if (!m_journalWindow) {
        m_journalWindow = m_journalPath.isEmpty() ? std::make_unique<JournalWindow>()
                                                  : std::make_unique<JournalWindow>(m_journalPath);
        connect(m_journalWindow.get(), &JournalWindow::openRunRequested, this, [this](qint64 id) {
            if (const auto run = m_journalWindow->loadRun(id))
                showStoredRun(*run);
        });
    }
    m_journalWindow->show();
    m_journalWindow->raise();
    m_journalWindow->activateWindow();
}

bool RunKeeper::waitForJournal(int timeoutMs)
{
    return !m_journal || m_journal->waitIdle(timeoutMs);
}
