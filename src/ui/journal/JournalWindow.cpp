#include "ui/journal/JournalWindow.h"

#include "journal/JournalCsv.h"
#include "journal/JournalExport.h"
#include "journal/JournalImport.h"
#include "persistence/QX_Global.h"
#include "ui/journal/JournalProgressChart.h"
#include "ui/journal/JournalTableModel.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSplitter>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>

RunFilter journalFilter(std::optional<std::int32_t> recordingTimeMs, JournalPeriod period, std::int64_t nowUtcMs)
{
    RunFilter filter;
    filter.recordingTimeMs = recordingTimeMs;
    // Months and years are the calendar's, on the local clock: "last month"
    // on 31 March starts on 29 February (or the 28th), not 30 days back.
    const QDateTime now = QDateTime::fromMSecsSinceEpoch(nowUtcMs).toLocalTime();
    switch (period) {
    case JournalPeriod::LastWeek:
        filter.fromUtcMs = now.addDays(-7).toMSecsSinceEpoch();
        break;
    case JournalPeriod::LastMonth:
        filter.fromUtcMs = now.addMonths(-1).toMSecsSinceEpoch();
        break;
    case JournalPeriod::LastYear:
        filter.fromUtcMs = now.addYears(-1).toMSecsSinceEpoch();
        break;
    case JournalPeriod::All:
        break;
    }
    return filter;
}

JournalWindow::JournalWindow(QString journalPath, QString scoreFilePath, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_journalPath(std::move(journalPath))
    , m_scoreFilePath(std::move(scoreFilePath))
    , m_model(new JournalTableModel(this))
    , m_table(new QTableView(this))
    , m_recordingTime(new QComboBox(this))
    , m_period(new QComboBox(this))
    , m_exportRuns(new QPushButton(tr("Export &runs…"), this))
    , m_exportStrokes(new QPushButton(tr("Export &strokes…"), this))
    , m_delete(new QPushButton(tr("&Delete"), this))
    , m_chart(new JournalProgressChart(this))
    , m_status(new QLabel(this))
{
    setWindowTitle(tr("Journal"));
    resize(960, 720);

    // No is the default: Enter or a stray Space never deletes runs.
    m_confirm = [](QWidget* parent, const QString& question) {
        return QMessageBox::question(parent, tr("Journal"), question, QMessageBox::Yes | QMessageBox::No,
                                     QMessageBox::No) == QMessageBox::Yes;
    };
    m_chooseFile = [](QWidget* parent, const QString& title, const QString& suggestedName) {
        return QFileDialog::getSaveFileName(parent, title, QDir::home().filePath(suggestedName),
                                            tr("CSV files (*.csv);;All files (*)"));
    };
    m_warn = [](QWidget* parent, const QString& message) { QMessageBox::warning(parent, tr("Journal"), message); };

    m_recordingTime->addItem(tr("All recording times"));
    for (const std::int32_t ms : kTimeLimitsMs)
        m_recordingTime->addItem(tr("%1 s").arg(ms / 1000), ms);
    m_recordingTime->addItem(tr("Endless"), kTimeLimitEndless);
    m_period->addItem(tr("Last week"), static_cast<int>(JournalPeriod::LastWeek));
    m_period->addItem(tr("Last month"), static_cast<int>(JournalPeriod::LastMonth));
    m_period->addItem(tr("Last year"), static_cast<int>(JournalPeriod::LastYear));
    m_period->addItem(tr("All time"), static_cast<int>(JournalPeriod::All));
    m_period->setCurrentIndex(3);

    m_table->setModel(m_model);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSortingEnabled(true);
    m_table->sortByColumn(JournalTableModel::ColDate, Qt::DescendingOrder);
    m_table->verticalHeader()->hide();
    // Fixed row heights and no per-row measuring keep 10,000 rows instant.
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 6);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setWordWrap(false);
    m_table->installEventFilter(this);
    // Widths from the header and a wide sample of each column, not from the
    // rows: measuring 10,000 rows would cost more than listing them.
    const QFontMetrics metrics(m_table->font());
    const QFontMetrics headerMetrics(m_table->horizontalHeader()->font());
    const QString samples[] = {
        QLocale().toString(QDateTime(QDate(2026, 12, 30), QTime(23, 59)), QLocale::ShortFormat),
        tr("Endless"), QStringLiteral("99999"), QLocale().toString(9999.9, 'f', 1),
        QLocale().toString(99.9, 'f', 1), QLocale().toString(-99.9, 'f', 1), QStringLiteral("300"),
        QLocale().toString(-99.9, 'f', 1), QLocale().toString(100.0, 'f', 1), tr("Cut short"), tr("Standard")};
    static_assert(std::size(samples) == JournalTableModel::ColDevice);
    for (int c = 0; c < JournalTableModel::ColDevice; ++c) {
        const int header = headerMetrics.horizontalAdvance(m_model->headerData(c, Qt::Horizontal).toString());
        m_table->setColumnWidth(c, std::max(header + 28, metrics.horizontalAdvance(samples[c]) + 16));
    }

    auto* filters = new QHBoxLayout;
    auto* timeLabel = new QLabel(tr("Recording &time:"), this);
    timeLabel->setBuddy(m_recordingTime);
    auto* periodLabel = new QLabel(tr("&Period:"), this);
    periodLabel->setBuddy(m_period);
    filters->addWidget(timeLabel);
    filters->addWidget(m_recordingTime);
    filters->addSpacing(12);
    filters->addWidget(periodLabel);
    filters->addWidget(m_period);
    filters->addStretch(1);
    filters->addWidget(m_exportRuns);
    filters->addWidget(m_exportStrokes);
    filters->addWidget(m_delete);

    auto* split = new QSplitter(Qt::Vertical, this);
    split->addWidget(m_table);
    split->addWidget(m_chart);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(filters);
    layout->addWidget(split, 1);
    layout->addWidget(m_status);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // A notice may name a file: it wraps rather than running off the window.
    m_status->setWordWrap(true);

    connect(m_recordingTime, &QComboBox::currentIndexChanged, this, &JournalWindow::refresh);
    connect(m_period, &QComboBox::currentIndexChanged, this, &JournalWindow::refresh);
    connect(m_table, &QTableView::doubleClicked, this, &JournalWindow::openCurrent);
    connect(m_exportRuns, &QPushButton::clicked, this, &JournalWindow::exportRuns);
    connect(m_exportStrokes, &QPushButton::clicked, this, &JournalWindow::exportStrokes);
    connect(m_delete, &QPushButton::clicked, this, &JournalWindow::deleteSelected);
    connect(m_table->selectionModel(), &QItemSelectionModel::selectionChanged, this, &JournalWindow::updateButtons);
    connect(m_model, &QAbstractItemModel::modelReset, this, &JournalWindow::updateButtons);
    updateButtons();
}

JournalWindow::~JournalWindow() = default;

QString JournalWindow::statusText() const
{
    return m_status->text();
}

void JournalWindow::setStatus(const QString& text)
{
    m_notice = text;
    showStatus();
}

void JournalWindow::showStatus()
{
    if (!m_db || !m_db->isOpen()) {
        m_status->setText(m_notice);
        return;
    }
    const int shown = m_model->rowCount();
    QString text = m_db->isReadOnly()
                       ? tr("%n run(s); this journal was made by a newer Tempovaro and is read-only.", nullptr, shown)
                       : tr("%n run(s)", nullptr, shown);
    if (!m_notice.isEmpty())
        text += QStringLiteral(" · ") + m_notice;
    m_status->setText(text);
}

void JournalWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!m_openTried) {
        m_openTried = true;
        // The question waits until the window is on screen behind it.
        if (ensureOpen())
            QMetaObject::invokeMethod(this, &JournalWindow::offerImport, Qt::QueuedConnection);
    }
    refresh();
}

void JournalWindow::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    // Runs finished while the drummer was in the main window show up when
    // the journal comes back to the front; an unchanged journal keeps its
    // selection and scroll position.
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && m_db && m_db->isOpen() &&
        m_db->countRuns() != m_listedTotal)
        refresh();
}

bool JournalWindow::ensureOpen()
{
    // The main window's journal writer may have moved a damaged journal
    // aside: this window then follows it to the new one.
    if (m_db && m_db->isOpen() && !m_db->fileReplaced())
        return true;
    m_db = std::make_unique<JournalDatabase>(m_journalPath);
    // A damaged journal is moved aside only once the drummer has agreed.
    JournalDatabase::Options options;
    if (m_db->open(options))
        return true;
    if (m_db->isDamaged()) {
        const QString question =
            tr("The journal %1 is damaged and cannot be read (%2).\n\nMove it aside (it is kept, not deleted) and "
               "start a new journal?")
                .arg(QDir::toNativeSeparators(m_journalPath), m_db->problemDetail());
        options.moveAsideDamaged = true;
        if (m_confirm(this, question) && m_db->open(options)) {
            const QString notice = tr("The damaged journal was moved to %1; a new journal was started.")
                                       .arg(QDir::toNativeSeparators(m_db->movedAsideTo()));
            std::fprintf(stderr, "tempovaro: %s\n", qPrintable(notice));
            setStatus(notice);
            return true;
        }
    }
    setStatus(tr("The journal cannot be opened (%1): %2").arg(m_db->problemReason(), m_journalPath));
    m_db.reset();
    return false;
}

void JournalWindow::offerImport()
{
    if (!m_db)
        return;
    const std::optional<std::int64_t> count = m_db->countRuns();
    if (!count || *count != 0 || m_db->isReadOnly())
        return;
    // Only scores that were never brought in are offered: a journal the
    // drummer emptied by deleting the imported runs is not asked again.
    const ScoreImport pending = previewScoreImport(*m_db, m_scoreFilePath, QTimeZone::systemTimeZone());
    const QString file = QFileInfo(m_scoreFilePath).fileName();
    if (pending.outcome == ScoreImport::Outcome::Damaged) {
        setStatus(tr("%1 could not be read, so its scores were not brought into the journal.").arg(file));
        return;
    }
    if (pending.outcome != ScoreImport::Outcome::Imported || pending.added == 0)
        return;
    const QString question =
        tr("Your journal is empty. Bring the %n score(s) of %1 into it as runs (without stroke times)?", nullptr,
           pending.added)
            .arg(file);
    if (!m_confirm(this, question))
        return;
    if (!m_db)
        return;
    const ScoreImport done = importScoreFile(*m_db, m_scoreFilePath, QTimeZone::systemTimeZone());
    if (done.outcome == ScoreImport::Outcome::Imported)
        m_notice = tr("%n score(s) brought in from %1.", nullptr, done.added).arg(file);
    else
        m_notice = tr("The scores could not be brought in (%1).").arg(m_db->problemReason());
    refresh();
}

std::optional<std::int32_t> JournalWindow::chosenRecordingTime() const
{
    const QVariant v = m_recordingTime->currentData();
    if (!v.isValid())
        return std::nullopt;
    return v.toInt();
}

void JournalWindow::setRecordingTimeFilter(std::optional<std::int32_t> recordingTimeMs)
{
    const int index = recordingTimeMs ? m_recordingTime->findData(*recordingTimeMs) : 0;
    m_recordingTime->setCurrentIndex(std::max(index, 0));
}

void JournalWindow::setPeriodFilter(JournalPeriod period)
{
    m_period->setCurrentIndex(m_period->findData(static_cast<int>(period)));
}

void JournalWindow::refresh()
{
    if (m_db && m_db->isOpen() && m_db->fileReplaced() && !ensureOpen()) {
        m_model->setRuns({});
        m_chart->showRuns({}, std::nullopt);
        return;
    }
    if (!m_db || !m_db->isOpen()) {
        m_model->setRuns({});
        m_chart->showRuns({}, std::nullopt);
        showStatus();
        return;
    }
    const auto period = static_cast<JournalPeriod>(m_period->currentData().toInt());
    const auto time = chosenRecordingTime();
    const RunFilter filter = journalFilter(time, period, QDateTime::currentMSecsSinceEpoch());
    std::vector<JournalRun> runs = m_db->listRuns(filter);
    const JournalProblem problem = m_db->problem();
    const bool readFailed = problem != JournalProblem::None && problem != JournalProblem::NewerSchema;
    const QString reason = m_db->problemReason();
    const QString detail = m_db->problemDetail();
    const int read = static_cast<int>(runs.size());
    // The best-so-far line of a period starts from the best before it.
    std::vector<JournalRun> earlier;
    if (time && filter.fromUtcMs && !readFailed) {
        RunFilter before;
        before.recordingTimeMs = time;
        before.untilUtcMs = filter.fromUtcMs;
        earlier = m_db->listRuns(before);
    }
    if (!readFailed)
        m_chart->setSpeedPlans(m_db->listSpeedPlans());
    m_chart->showRuns(runs, time, earlier);
    m_model->setRuns(std::move(runs));
    m_listedTotal = m_db->countRuns();
    if (problem == JournalProblem::Damaged) {
        // What could be read is shown, and said to be only part.
        setStatus(tr("The journal is damaged: only the %n run(s) shown could be read, others may be missing.",
                     nullptr, read));
        if (!m_damageWarned) {
            m_damageWarned = true;
            const QString message =
                tr("The journal %1 is damaged (%2). Only the %n run(s) shown could be read; others may be missing.",
                   nullptr, read)
                    .arg(QDir::toNativeSeparators(m_journalPath), detail);
            std::fprintf(stderr, "tempovaro: %s\n", qPrintable(message));
            m_warn(this, message);
        }
    } else if (readFailed) {
        setStatus(tr("The journal could not be read (%1).").arg(reason));
    } else {
        showStatus();
    }
}

std::optional<RunRecord> JournalWindow::loadRun(std::int64_t id)
{
    if (!ensureOpen())
        return std::nullopt;
    std::optional<JournalRun> run = m_db->loadRun(id);
    if (!run)
        return std::nullopt;
    return std::move(run->run);
}

std::vector<std::int64_t> JournalWindow::selectedIds() const
{
    std::vector<std::int64_t> ids;
    for (const QModelIndex& row : m_table->selectionModel()->selectedRows())
        ids.push_back(m_model->runAt(row.row()).run.id);
    return ids;
}

void JournalWindow::updateButtons()
{
    const auto selected = m_table->selectionModel()->selectedRows().size();
    const bool writable = m_db && m_db->isOpen() && !m_db->isReadOnly();
    m_delete->setEnabled(writable && selected > 0);
    m_exportStrokes->setEnabled(selected == 1);
    m_exportRuns->setEnabled(m_model->rowCount() > 0);
}

bool JournalWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_table && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            openCurrent();
            return true;
        }
        if (key == Qt::Key_Delete) {
            deleteSelected();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void JournalWindow::openCurrent()
{
    const QModelIndex current = m_table->currentIndex();
    if (!current.isValid())
        return;
    emit openRunRequested(m_model->runAt(current.row()).run.id);
}

void JournalWindow::deleteSelected()
{
    const std::vector<std::int64_t> ids = selectedIds();
    if (ids.empty() || !m_db || m_db->isReadOnly())
        return;
    const QString question =
        tr("Delete %n run(s) from the journal? This cannot be undone. The score list is not changed.", nullptr,
           static_cast<int>(ids.size()));
    if (!m_confirm(this, question))
        return;
    const std::optional<int> deleted = m_db->deleteRuns(ids);
    if (!deleted)
        setStatus(tr("The runs could not be deleted (%1).").arg(m_db->problemReason()));
    else
        setStatus(tr("%n run(s) deleted.", nullptr, *deleted));
    refresh();
}

bool JournalWindow::exportRunsTo(const QString& path)
{
    QString reason;
    if (saveExport(path, runsCsv(m_model->runs(), QTimeZone::systemTimeZone()), &reason))
        return true;
    const QString message = tr("The runs could not be exported to %1: %2").arg(QDir::toNativeSeparators(path), reason);
    m_warn(this, message);
    setStatus(message);
    return false;
}

bool JournalWindow::exportStrokesTo(const QString& path)
{
    const std::vector<std::int64_t> ids = selectedIds();
    if (ids.size() != 1)
        return false;
    const std::optional<RunRecord> run = loadRun(ids.front());
    QString reason;
    if (!run)
        reason = tr("the run is no longer in the journal");
    else if (saveExport(path, strokesCsv(*run), &reason))
        return true;
    const QString message =
        tr("The strokes could not be exported to %1: %2").arg(QDir::toNativeSeparators(path), reason);
    m_warn(this, message);
    setStatus(message);
    return false;
}

void JournalWindow::exportRuns()
{
    const QString path = m_chooseFile(this, tr("Export runs"), QStringLiteral("tempovaro-journal.csv"));
    if (!path.isEmpty())
        exportRunsTo(path);
}

void JournalWindow::exportStrokes()
{
    const std::vector<std::int64_t> ids = selectedIds();
    if (ids.size() != 1)
        return;
    const QString path = m_chooseFile(this, tr("Export strokes"), QStringLiteral("tempovaro-run-%1.csv").arg(ids.front()));
    if (!path.isEmpty())
        exportStrokesTo(path);
}

JournalWindow* showJournalWindow(const std::function<void(std::int64_t)>& openRun)
{
    static QPointer<JournalWindow> window;
    if (!window) {
        window = new JournalWindow;
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, window, &QObject::deleteLater);
        if (openRun)
            QObject::connect(window, &JournalWindow::openRunRequested, window,
                             [openRun](qint64 id) { openRun(id); });
    }
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

#include "moc_JournalWindow.cpp"
