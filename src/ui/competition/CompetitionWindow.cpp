#include "ui/competition/CompetitionWindow.h"

#include "analysis/SignalTones.h"
#include "audit/AuditStore.h"
#include "audit/CompetitionStandings.h"
#include "capture/QX_ClickPlayer.h"
#include "persistence/QX_AtomicFile.h"
#include "persistence/QX_Global.h"
#include "session/QX_TriggerFactory.h"
#include "trigger/QX_Clock.h"
#include "ui/competition/ResultSheet.h"

#include <QComboBox>
#include <QDateTime>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#if TEMPOVARO_HAS_PRINT
#include <QPrintDialog>
#include <QPrinter>
#endif

namespace {

constexpr int kTickMs = 30;
// When the recording time is over the audit still wants its last second;
// a capture that stalls does not hold the attempt for longer than this.
constexpr std::uint32_t kAuditTailWaitMs = 2500;

QString grouped(std::int64_t n)
{
    return QLocale(QLocale::English, QLocale::UnitedStates).toString(static_cast<qlonglong>(n));
}

std::vector<std::int16_t> endSignal()
{
    return toneSignal({Tone{0, 900, 1320.0}});
}

QString deviceText()
{
    if (DeviceProperties.TriggerDeviceType == kTriggerDeviceMidi) {
        const QX_Device& d = DeviceProperties.MidiDevice;
        return QString::fromStdString(d.Name.empty() ? d.ID : d.Name);
    }
    const QX_Device& d = DeviceProperties.AudioDevice;
    return QString::fromStdString(d.Name.empty() ? d.ID : d.Name);
}

QString countingSettingsText()
{
    if (DeviceProperties.TriggerDeviceType == kTriggerDeviceMidi) {
        const std::int32_t note = DeviceProperties.loadMidiNoteNr();
        const std::int32_t channel = MidiChannelNumber(DeviceProperties.MidiChannel.ID);
        return QStringLiteral("channel %1, note %2")
            .arg(channel == 0 ? QStringLiteral("all") : QString::number(channel),
                 note < 0 ? QStringLiteral("all") : QString::number(note));
    }
    const QX_Device& line = DeviceProperties.AudioChannel;
    if (line.ID.empty())
        return QString();
    return QStringLiteral("input line %1 at level %2")
        .arg(QString::fromStdString(line.ID))
        .arg(static_cast<double>(line.Level), 0, 'f', 2);
}

AuditDetector detectorInUse()
{
    if (DeviceProperties.TriggerDeviceType == kTriggerDeviceMidi)
        return AuditDetector::Midi;
    return DeviceProperties.AudioDetector == kAudioDetectorFast ? AuditDetector::Fast : AuditDetector::Standard;
}

} // namespace

CompetitionWindow::CompetitionWindow(QString version, QWidget* parent, QString folder)
    : QDialog(parent), m_version(std::move(version)), m_folder(std::move(folder)),
      m_player(std::make_unique<QX_ClickPlayer>())
{
    setObjectName(QStringLiteral("CompetitionWindow"));
    setWindowTitle(QStringLiteral("Competition"));
    buildUi();
    m_timer = new QTimer(this);
    m_timer->setTimerType(Qt::PreciseTimer);
    m_timer->setInterval(kTickMs);
    connect(m_timer, &QTimer::timeout, this, &CompetitionWindow::tick);
    refreshStandings();
    showAttemptView(false);
}

CompetitionWindow::~CompetitionWindow()
{
    // The capture thread writes into the writer's tap: it goes first.
    m_device.reset();
    m_writer.reset();
}

void CompetitionWindow::setManualTicks(bool manual)
{
    m_manualTicks = manual;
    if (manual)
        m_timer->stop();
}

void CompetitionWindow::buildUi()
{
    auto* layout = new QVBoxLayout(this);

    m_setup = new QWidget(this);
    auto* form = new QFormLayout(m_setup);
    m_competition = new QLineEdit(QStringLiteral("Competition"), m_setup);
    m_competition->setObjectName(QStringLiteral("competition"));
    m_drummer = new QLineEdit(m_setup);
    m_drummer->setObjectName(QStringLiteral("drummer"));
    m_round = new QComboBox(m_setup);
    m_round->setObjectName(QStringLiteral("round"));
    m_round->addItems({QStringLiteral("Heat"), QStringLiteral("Final")});
    m_time = new QComboBox(m_setup);
    m_time->setObjectName(QStringLiteral("time"));
    for (const std::int32_t ms : kTimeLimitsMs)
        m_time->addItem(QStringLiteral("%1 s").arg(ms / 1000), ms);
    m_time->setCurrentIndex(m_time->count() - 1);
    m_start = new QComboBox(m_setup);
    m_start->setObjectName(QStringLiteral("start"));
    m_start->addItems({QStringLiteral("At the first stroke"), QStringLiteral("On go (3-2-1)")});
    form->addRow(QStringLiteral("Competition:"), m_competition);
    form->addRow(QStringLiteral("Drummer:"), m_drummer);
    form->addRow(QStringLiteral("Round:"), m_round);
    form->addRow(QStringLiteral("Recording time:"), m_time);
    form->addRow(QStringLiteral("Start:"), m_start);
    layout->addWidget(m_setup);
    connect(m_competition, &QLineEdit::editingFinished, this, &CompetitionWindow::refreshStandings);

    auto* board = new QWidget(this);
    board->setAutoFillBackground(true);
    QPalette pal = board->palette();
    pal.setColor(QPalette::Window, Qt::black);
    pal.setColor(QPalette::WindowText, Qt::white);
    board->setPalette(pal);
    auto* boardLayout = new QVBoxLayout(board);
    m_name = new QLabel(board);
    m_name->setObjectName(QStringLiteral("name"));
    m_name->setAlignment(Qt::AlignCenter);
    QFont nameFont(QStringLiteral("Arial"), 24, QFont::Bold);
    m_name->setFont(nameFont);
    m_count = new QLabel(QStringLiteral("0"), board);
    m_count->setObjectName(QStringLiteral("count"));
    m_count->setAlignment(Qt::AlignCenter);
    m_count->setFont(QFont(QStringLiteral("Arial"), 120, QFont::Bold));
    m_status = new QLabel(board);
    m_status->setObjectName(QStringLiteral("status"));
    m_status->setAlignment(Qt::AlignCenter);
    m_status->setWordWrap(true);
    m_status->setFont(QFont(QStringLiteral("Arial"), 16));
    boardLayout->addWidget(m_name);
    boardLayout->addWidget(m_count, 1);
    boardLayout->addWidget(m_status);
    layout->addWidget(board, 1);

    auto* buttons = new QHBoxLayout;
    auto button = [&](const char* name, const QString& text, void (CompetitionWindow::*slot)()) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(QLatin1String(name));
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, slot);
        buttons->addWidget(b);
        return b;
    };
    m_arm = button("arm", QStringLiteral("&Arm"), &CompetitionWindow::arm);
    m_stop = button("stop", QStringLiteral("&Stop"), &CompetitionWindow::stop);
    m_recount = button("recount", QStringLiteral("&Recount"), &CompetitionWindow::recount);
    m_sheet = button("sheet", QStringLiteral("Result sheet (&PDF)…"), &CompetitionWindow::saveSheet);
    m_print = button("print", QStringLiteral("Pr&int…"), &CompetitionWindow::printSheet);
#if !TEMPOVARO_HAS_PRINT
    m_print->hide();
#endif
    layout->addLayout(buttons);

    m_standings = new QWidget(this);
    auto* standings = new QHBoxLayout(m_standings);
    standings->setContentsMargins(0, 0, 0, 0);
    m_heats = new QTableWidget(0, 3, m_standings);
    m_heats->setObjectName(QStringLiteral("heats"));
    m_heats->setHorizontalHeaderLabels({QStringLiteral("Drummer"), QStringLiteral("Heats"), QStringLiteral("Best heat")});
    m_ranking = new QTableWidget(0, 3, m_standings);
    m_ranking->setObjectName(QStringLiteral("ranking"));
    m_ranking->setHorizontalHeaderLabels({QStringLiteral("Place"), QStringLiteral("Drummer"), QStringLiteral("Final")});
    for (QTableWidget* t : {m_heats, m_ranking}) {
        t->setEditTriggers(QAbstractItemView::NoEditTriggers);
        t->setSelectionBehavior(QAbstractItemView::SelectRows);
        t->setSelectionMode(QAbstractItemView::SingleSelection);
        t->verticalHeader()->hide();
        t->horizontalHeader()->setStretchLastSection(true);
    }
    auto* rankingColumn = new QVBoxLayout;
    rankingColumn->addWidget(m_ranking);
    auto* exportButton = new QPushButton(QStringLiteral("&Export ranking…"), m_standings);
    exportButton->setObjectName(QStringLiteral("exportRanking"));
    exportButton->setAutoDefault(false);
    connect(exportButton, &QPushButton::clicked, this, &CompetitionWindow::exportRanking);
    rankingColumn->addWidget(exportButton);
    standings->addWidget(m_heats);
    standings->addLayout(rankingColumn);
    layout->addWidget(m_standings);
    resize(900, 700);
}

void CompetitionWindow::showAttemptView(bool attempt)
{
    // During an attempt the window shows the drummer, the round and the
    // count; everything else waits.
    m_setup->setVisible(!attempt);
    m_standings->setVisible(!attempt);
    m_arm->setVisible(!attempt);
    m_recount->setVisible(!attempt);
    m_sheet->setVisible(!attempt);
#if TEMPOVARO_HAS_PRINT
    m_print->setVisible(!attempt);
#endif
    m_stop->setVisible(attempt);
    const bool kept = m_last.id > 0;
    m_recount->setEnabled(kept || m_ranking->rowCount() > 0);
    m_sheet->setEnabled(kept);
    m_print->setEnabled(kept);
}

void CompetitionWindow::setStatus(const QString& text)
{
    m_status->setText(text);
}

void CompetitionWindow::arm()
{
    const QString drummer = m_drummer->text().trimmed();
    if (drummer.isEmpty()) {
        setStatus(QStringLiteral("Enter the drummer's name first."));
        m_drummer->setFocus();
        return;
    }
    m_device = CreateTriggerDevice(DeviceProperties);
    if (!m_device) {
        setStatus(QStringLiteral("Choose an input device first (Options, Select Input Device)."));
        return;
    }
    m_writer = std::make_unique<AuditWriter>();
    m_usesTap = m_device->attachSampleTap(&m_writer->tap());
    if (!m_usesTap)
        m_writer.reset();
    m_dropoutsAtStart = m_device->captureDropouts();
    m_strokes.clear();
    m_goSample = -1;
    m_ending = false;

    m_pending = AuditRecord{};
    m_pending.competition = m_competition->text().trimmed();
    m_pending.drummer = drummer;
    m_pending.final = m_round->currentIndex() == 1;
    m_pending.startOnGo = m_start->currentIndex() == 1;
    m_pending.timeLimitMs = m_time->currentData().toInt();
    m_pending.startedAt = QDateTime::currentDateTime().toString(Qt::ISODate);
    m_armedUtcMs = QDateTime::currentMSecsSinceEpoch();
    m_pending.device = deviceText();
    m_pending.detector = detectorInUse();
    m_pending.countingSettings = countingSettingsText();
    m_pending.version = m_version;

    m_device->Start(m_pending.timeLimitMs);
    m_flow.arm(m_pending.startOnGo, tickCountMs());
    if (m_pending.startOnGo && !m_manualTicks)
        playSignal(countdownSignal(AttemptFlow::kBeats, AttemptFlow::kBeatMs));
    m_name->setText(QStringLiteral("%1 — %2").arg(drummer, m_pending.final ? QStringLiteral("Final") : QStringLiteral("Heat")));
    m_count->setText(m_pending.startOnGo ? QString() : QStringLiteral("0"));
    setStatus(m_pending.startOnGo ? QStringLiteral("Get ready") : QStringLiteral("Ready: the time starts with the first stroke"));
    showAttemptView(true);
    if (!m_manualTicks)
        m_timer->start();
}

void CompetitionWindow::playSignal(std::vector<std::int16_t> samples)
{
    // A fresh stream for each signal: its first sample is the first heard,
    // so the beats sound with the output's latency alone and a new signal
    // cuts off the one before. Without an output the signal is dropped: a
    // competition still runs with the judge's voice.
    m_player->stop();
    if (m_player->open("default") && m_player->playSignal(std::move(samples)))
        m_player->start();
}

void CompetitionWindow::stop()
{
    if (!m_device)
        return;
    m_flow.abort();
    m_timer->stop();
    m_device.reset();
    m_writer.reset();
    setStatus(QStringLiteral("Stopped: the attempt is not kept."));
    showAttemptView(false);
}

void CompetitionWindow::tick()
{
    if (!m_device)
        return;
    const std::uint32_t now = tickCountMs();
    m_device->drainStrokeEvents(m_strokes);
    const std::int32_t count = m_device->GetCount();
    // A MIDI device learns of its end only from a later note: the window's
    // clock closes it once no note inside can still be on its way.
    bool over = m_device->IsTimeOver();
    if (!over && count > 0 && m_pending.timeLimitMs >= 0 &&
        m_device->GetElapsedTime() >= m_pending.timeLimitMs + m_device->endWaitMs()) {
        m_device->finishInput();
        m_device->drainStrokeEvents(m_strokes);
        over = true;
    }
    const bool delivering = m_device->captureHealth() == CaptureHealth::Working;

    if (m_writer && !m_strokes.empty() && m_goSample != -2) {
        const std::int64_t first = m_strokes.front().tick;
        const AuditSpan span = auditSpan(m_goSample >= 0 ? m_goSample : first, first, m_pending.timeLimitMs);
        m_writer->keepFrom(span.from);
        m_writer->keepUntil(span.until);
        m_goSample = -2; // the span is set
    }

    switch (m_flow.update(now, count, over, delivering)) {
    case AttemptFlow::Event::Beat:
        break;
    case AttemptFlow::Event::Go:
        if (m_writer)
            m_goSample = m_writer->tap().writtenSamples();
        setStatus(QStringLiteral("GO"));
        break;
    case AttemptFlow::Event::Started:
        setStatus(QString());
        break;
    case AttemptFlow::Event::FalseStart:
        m_timer->stop();
        m_device.reset();
        m_writer.reset();
        m_count->setText(QStringLiteral("FALSE START"));
        setStatus(QStringLiteral("A stroke before go: the attempt is not counted."));
        showAttemptView(false);
        return;
    case AttemptFlow::Event::Lost:
        m_timer->stop();
        m_device.reset();
        m_writer.reset();
        setStatus(QStringLiteral("The input device stopped: the attempt is not kept."));
        showAttemptView(false);
        return;
    case AttemptFlow::Event::Ended:
        if (!m_manualTicks)
            playSignal(endSignal());
        m_ending = true;
        m_endedMs = now;
        setStatus(QStringLiteral("Time"));
        break;
    case AttemptFlow::Event::None:
        break;
    }
    if (m_flow.phase() == AttemptFlow::Phase::Countdown)
        m_count->setText(m_flow.countdown() > 0 ? QString::number(m_flow.countdown()) : QString());
    else
        m_count->setText(grouped(count));
    if (m_ending && (!m_writer || m_writer->capturedThrough() || now - m_endedMs >= kAuditTailWaitMs))
        finishAttempt();
}

void CompetitionWindow::finishAttempt()
{
    m_timer->stop();
    m_ending = false;
    m_device->finishInput();
    m_device->drainStrokeEvents(m_strokes);
    m_pending.count = m_device->GetCount();
    m_pending.dropouts = m_device->captureDropouts() - m_dropoutsAtStart;
    const std::int64_t ticksPerSecond = m_device->ticksPerSecond();
    m_device.reset();
    keepAttempt(ticksPerSecond);
    std::vector<double> times;
    for (const StrokeEvent& e : m_strokes)
        times.push_back(static_cast<double>(e.tick - m_strokes.front().tick) / static_cast<double>(ticksPerSecond));
    m_lastAnalysis = analyzeRun(times, m_pending.timeLimitMs / 1000.0);
    m_count->setText(grouped(m_pending.count));
    showAttemptView(false);
}

void CompetitionWindow::keepAttempt(std::int64_t ticksPerSecond)
{
    QByteArray bytes;
    QString extension;
    if (m_writer) {
        AuditRecording recording = m_writer->finish();
        m_writer.reset();
        m_pending.lostBlocks = recording.lostBlocks;
        // A recording that begins where the device began is counted as live.
        m_pending.settleSamples = recording.firstSample > 0 ? kAuditSettleSamples : 0;
        bytes = QByteArray(reinterpret_cast<const char*>(recording.flac.data()),
                           static_cast<qsizetype>(recording.flac.size()));
        extension = QStringLiteral(".flac");
    } else {
        bytes = QByteArray::fromStdString(midiEventsText(m_strokes));
        extension = QStringLiteral(".midi.txt");
    }
    AuditStore store(m_folder);
    QString error;
    if (!store.save(m_pending, bytes, extension, error)) {
        setStatus(QStringLiteral("The attempt could not be kept: %1").arg(error));
        return;
    }
    m_last = m_pending;
    QString text = QStringLiteral("Kept as attempt %1").arg(m_last.id);
    if (m_last.flagged())
        text += QStringLiteral(" — FLAGGED: %1 dropout(s), %2 audit block(s) lost")
                    .arg(m_last.dropouts)
                    .arg(m_last.lostBlocks);
    setStatus(text);
    refreshStandings();
    emit attemptKept(m_last.id);

    RunRecord run;
    run.startUtcMs = m_armedUtcMs;
    run.recordingTimeMs = m_last.timeLimitMs;
    run.ranToEnd = true;
    run.count = m_last.count;
    run.result = RunResult::Finished;
    run.device = runDeviceFromSettings(DeviceProperties);
    run.ticksPerSecond = ticksPerSecond;
    run.strokes = m_strokes;
    run.auditAttemptId = m_last.id;
    run.auditDigest = m_last.digest.toStdString();
    emit attemptRun(run);
}

void CompetitionWindow::recount()
{
    // The final picked in the ranking, else the attempt kept last.
    std::int64_t id = m_last.id;
    if (const QList<QTableWidgetItem*> picked = m_ranking->selectedItems(); !picked.isEmpty())
        id = m_ranking->item(picked.front()->row(), 0)->data(Qt::UserRole).toLongLong();
    if (id <= 0)
        return;
    const AuditCheck check = verifyAudit(m_folder, id);
    setStatus(QStringLiteral("Attempt %1: %2").arg(id).arg(check.message));
}

void CompetitionWindow::refreshStandings()
{
    const QList<AuditRecord> records = AuditStore(m_folder).load();
    const QString competition = m_competition->text().trimmed();
    const QList<DrummerHeats> heats = heatsByDrummer(records, competition);
    m_heats->setRowCount(static_cast<int>(heats.size()));
    for (int row = 0; row < heats.size(); ++row) {
        const DrummerHeats& d = heats[row];
        QStringList counts;
        for (const AuditRecord& r : d.heats)
            counts << grouped(r.count) + (r.flagged() ? QStringLiteral(" (flagged)") : QString());
        m_heats->setItem(row, 0, new QTableWidgetItem(d.drummer));
        m_heats->setItem(row, 1, new QTableWidgetItem(counts.join(QStringLiteral(", "))));
        m_heats->setItem(row, 2, new QTableWidgetItem(d.bestHeat >= 0 ? grouped(d.heats[d.bestHeat].count) : QString()));
    }
    const QList<RankRow> ranking = finalsRanking(records, competition);
    m_ranking->setRowCount(static_cast<int>(ranking.size()));
    for (int row = 0; row < ranking.size(); ++row) {
        const RankRow& r = ranking[row];
        auto* place = new QTableWidgetItem(QString::number(r.place));
        place->setData(Qt::UserRole, static_cast<qlonglong>(r.attemptId));
        m_ranking->setItem(row, 0, place);
        m_ranking->setItem(row, 1, new QTableWidgetItem(r.drummer));
        m_ranking->setItem(row, 2, new QTableWidgetItem(grouped(r.count) + (r.flagged ? QStringLiteral(" (flagged)") : QString())));
    }
}

void CompetitionWindow::saveSheet()
{
    if (m_last.id <= 0)
        return;
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save result sheet"),
                                                      QStringLiteral("attempt-%1.pdf").arg(m_last.id),
                                                      QStringLiteral("PDF (*.pdf)"));
    if (path.isEmpty())
        return;
    QString error;
    setStatus(saveResultSheetPdf(path, m_last, m_lastAnalysis, error) ? QStringLiteral("Result sheet saved.")
                                                                       : QStringLiteral("Not saved: %1").arg(error));
}

void CompetitionWindow::printSheet()
{
#if TEMPOVARO_HAS_PRINT
    if (m_last.id <= 0)
        return;
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageSize(QPageSize(QPageSize::A4));
    QPrintDialog dialog(&printer, this);
    if (dialog.exec() == QDialog::Accepted)
        paintResultSheet(printer, m_last, m_lastAnalysis);
#endif
}

void CompetitionWindow::exportRanking()
{
    const QString competition = m_competition->text().trimmed();
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Export ranking"),
                                                      QStringLiteral("ranking.csv"), QStringLiteral("CSV (*.csv)"));
    if (path.isEmpty())
        return;
    const QByteArray csv = rankingCsv(finalsRanking(AuditStore(m_folder).load(), competition));
    const AtomicWriteResult written = writeFileAtomically(path, csv);
    setStatus(written ? QStringLiteral("Ranking exported.") : QStringLiteral("Not exported: %1").arg(written.error));
}

#include "moc_CompetitionWindow.cpp"
