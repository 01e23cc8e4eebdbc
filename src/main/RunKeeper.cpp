#include "main/RunKeeper.h"

#include "journal/JournalExport.h"
#include "journal/JournalSummary.h"
#include "journal/JournalWriter.h"
#include "persistence/QX_AtomicFile.h"
#include "ui/journal/JournalWindow.h"
#include "ui/report/QX_RunReport.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTimeZone>

#include <cstdio>

namespace {

QString runsText(int n)
{
    return n == 1 ? QStringLiteral("1 run") : QStringLiteral("%1 runs").arg(n);
}

RunKeeper::Dialogs standardDialogs()
{
    RunKeeper::Dialogs d;
    d.askAtClose = [](int waiting, const QString& reason) {
        QMessageBox box(QMessageBox::Warning, QObject::tr("Journal"),
                        QObject::tr("%1 could not be written to the journal (%2).").arg(runsText(waiting), reason));
        box.setInformativeText(QObject::tr("Wait for the journal, save the runs as a CSV file elsewhere, or keep "
                                           "them in a file that Tempovaro adds to the journal at its next start."));
        QPushButton* wait = box.addButton(QObject::tr("&Wait"), QMessageBox::AcceptRole);
        QPushButton* csv = box.addButton(QObject::tr("&Save as CSV…"), QMessageBox::ActionRole);
        QPushButton* keep = box.addButton(QObject::tr("&Keep for the next start"), QMessageBox::RejectRole);
        box.setDefaultButton(keep);
        box.setEscapeButton(keep);
        box.exec();
        if (box.clickedButton() == wait)
            return RunKeeper::CloseChoice::Wait;
        if (box.clickedButton() == csv)
            return RunKeeper::CloseChoice::SaveAsCsv;
        return RunKeeper::CloseChoice::KeepForNextStart;
    };
    d.chooseCsvFile = [] {
        return QFileDialog::getSaveFileName(nullptr, QObject::tr("Save the runs"),
                                            QDir::home().filePath(QStringLiteral("tempovaro-unsaved-runs.csv")),
                                            QObject::tr("CSV files (*.csv);;All files (*)"));
    };
    d.tell = [](const QString& message) { QMessageBox::warning(nullptr, QObject::tr("Journal"), message); };
    return d;
}

void printLine(const QString& message)
{
    std::fprintf(stderr, "tempovaro: %s\n", qPrintable(message));
}

} // namespace

RunKeeper::RunKeeper(QString journalPath, QObject* parent)
    : QObject(parent), m_journalPath(std::move(journalPath)), m_dialogs(standardDialogs())
{
    // Runs kept aside at the last close go into the journal now, not only
    // after the next run.
    const QString path = m_journalPath.isEmpty() ? JournalDatabase::defaultPath() : m_journalPath;
    for (const QString& kept : keptAsidePaths(path))
        if (QFileInfo::exists(kept)) {
            journalWriter();
            break;
        }
}

RunKeeper::~RunKeeper()
{
    closeJournal(false);
}

void RunKeeper::setDialogs(Dialogs dialogs)
{
    m_dialogs = std::move(dialogs);
}

JournalWriter& RunKeeper::journalWriter()
{
    if (!m_journal) {
        JournalWriter::Options options;
        if (!m_journalPath.isEmpty())
            options.path = m_journalPath;
        options.keptAsidePaths = keptAsidePaths(options.path);
        m_journal = std::make_unique<JournalWriter>(options);
        m_journal->setSummaryHook(&summarizeRun);
        connect(m_journal.get(), &JournalWriter::statusChanged, this, &RunKeeper::showJournalStatus);
        connect(m_journal.get(), &JournalWriter::damageFound, this, &RunKeeper::journalDamaged);
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
    const QString moved = m_journal ? m_journal->status().movedAsideTo : QString();
    if (!moved.isEmpty() && moved != m_reportedMove) {
        m_reportedMove = moved;
        printLine(QStringLiteral("the damaged journal was moved to %1 and a new journal started").arg(moved));
    }
    if (m_report)
        m_report->setJournalStatus(text);
    // Runs the journal refuses are copied to the file kept for the next start
    // at once, so that even an end with no close at all (the X server gone
    // at a logout, a kill) loses none; the next start adds each run once,
    // whether or not the journal took it meanwhile.
    if (m_journal && !m_closed) {
        const JournalStatus status = m_journal->status();
        if (status.problem != JournalProblem::None && status.problem != JournalProblem::NewerSchema &&
            status.waitingRuns > 0) {
            const QString path = m_journalPath.isEmpty() ? JournalDatabase::defaultPath() : m_journalPath;
            keepRunsAside(m_journal->waitingRuns(), keptAsidePaths(path), nullptr);
        }
    }
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

void RunKeeper::journalDamaged(const QString& path, const QString& detail)
{
    const QString message =
        tr("The practice journal %1 is damaged (%2). Nothing more is written to it; your runs are kept in "
           "memory. It will be moved aside, not deleted, and a new journal started for them.")
            .arg(QDir::toNativeSeparators(path), detail);
    printLine(message);
    if (m_dialogs.tell)
        m_dialogs.tell(message);
    if (m_journal)
        m_journal->startNewJournal();
}

void RunKeeper::closeJournal(bool mayAsk)
{
    if (m_closed || !m_journal)
        return;
    m_closed = true;
    QString reason;
    while (mayAsk && m_dialogs.askAtClose) {
        m_journal->retryNow();
        m_journal->waitIdle(JournalWriter::kCloseWaitMs);
        const JournalStatus status = m_journal->status();
        if (status.waitingRuns == 0)
            break;
        reason = status.reason;
        const CloseChoice choice = m_dialogs.askAtClose(status.waitingRuns, reason);
        if (choice == CloseChoice::KeepForNextStart)
            break;
        if (choice != CloseChoice::SaveAsCsv)
            continue;
        const QString csvPath = m_dialogs.chooseCsvFile ? m_dialogs.chooseCsvFile() : QString();
        if (csvPath.isEmpty())
            continue;
        // The writer stops first, so the file holds exactly the runs it never wrote.
        m_journal->finish(JournalWriter::kCloseWaitMs);
        const std::vector<RunRecord> runs = m_journal->takeUnwritten();
        if (!runs.empty() && !saveAsCsv(runs, csvPath, reason))
            keepAside(runs, reason);
        return;
    }
    if (reason.isEmpty())
        reason = m_journal->status().reason;
    if (m_journal->finish(JournalWriter::kCloseWaitMs) == 0)
        return;
    keepAside(m_journal->takeUnwritten(), reason.isEmpty() ? m_journal->status().reason : reason);
}

void RunKeeper::keepWaitingRunsAside()
{
    if (!m_journal || m_closed)
        return;
    const std::vector<RunRecord> runs = m_journal->waitingRuns();
    if (!runs.empty())
        keepAside(runs, m_journal->status().reason);
}

void RunKeeper::keepAside(const std::vector<RunRecord>& runs, const QString& reason)
{
    if (runs.empty())
        return;
    const QString path = m_journalPath.isEmpty() ? JournalDatabase::defaultPath() : m_journalPath;
    const QString why = reason.isEmpty() ? tr("not written in time") : reason;
    QString failure;
    const QString where = keepRunsAside(runs, keptAsidePaths(path), &failure);
    if (!where.isEmpty()) {
        printLine(tr("%1 could not be written to the journal (%2); kept in %3 and added to the journal at the next "
                     "start").arg(runsText(int(runs.size())), why, where));
        return;
    }
    // The last place left: the terminal or the session's log.
    printLine(tr("%1 could not be written to the journal (%2) nor kept aside (%3); here they are:")
                  .arg(runsText(int(runs.size())), why, failure));
    const QByteArray csv = unsavedRunsCsv(runs, QTimeZone::systemTimeZone());
    std::fwrite(csv.constData(), 1, static_cast<std::size_t>(csv.size()), stderr);
    std::fflush(stderr);
}

bool RunKeeper::saveAsCsv(const std::vector<RunRecord>& runs, const QString& path, const QString& journalReason)
{
    QString reason;
    if (saveExport(path, unsavedRunsCsv(runs, QTimeZone::systemTimeZone()), &reason)) {
        printLine(tr("%1 could not be written to the journal (%2); saved as CSV in %3")
                      .arg(runsText(int(runs.size())), journalReason, path));
        return true;
    }
    const QString message = tr("The runs could not be saved to %1 (%2); they are kept for the next start instead.")
                                .arg(QDir::toNativeSeparators(path), reason);
    printLine(message);
    if (m_dialogs.tell)
        m_dialogs.tell(message);
    return false;
}

#include "moc_RunKeeper.cpp"
