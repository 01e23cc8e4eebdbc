#include "ui/click/SpeedBuilderWindow.h"

#include "capture/QX_ClickPlayer.h"
#include "journal/JournalDatabase.h"
#include "persistence/QX_Global.h"
#include "ui/click/ClickWindow.h"
#include "ui/click/GridChoices.h"

#include <QComboBox>
#include <QDateTime>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QShortcut>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include <chrono>
#include <cmath>

namespace {

constexpr int kTickMs = 30;

// The click's own output device, as the click window plays it.
class PlayerOutput : public SpeedClickOutput {
public:
    bool start() override
    {
        const std::string device = ClickSettings.DeviceID.empty() ? std::string("default") : ClickSettings.DeviceID;
        m_sharedClock = ClickWindow::sharesTriggerClock(device);
        return m_player.open(device) && m_player.start();
    }
    bool schedule(const ClickSegment& segment) override { return m_player.schedule(segment); }
    std::optional<double> streamOffsetFrames() const override { return m_player.streamOffsetFrames(); }
    // On the trigger's own clock the offsets hold, as for a run (RunTiming.h).
    std::optional<StreamLine> streamLine() const override
    {
        return m_sharedClock ? std::nullopt : m_player.streamLine();
    }
    double rate() const override { return QX_ClickPlayer::kSampleRate; }

private:
    QX_ClickPlayer m_player;
    bool m_sharedClock = true;
};

QString tempoString(double bpm)
{
    return QString::fromStdString(tempoText(bpm));
}

} // namespace

SpeedBuilderWindow::SpeedBuilderWindow(SpeedBuilderHooks hooks, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_hooks(std::move(hooks))
{
    setObjectName(QStringLiteral("SpeedBuilderWindow"));
    setWindowTitle(QStringLiteral("Speed Builder"));
    if (!m_hooks.monotonicS)
        m_hooks.monotonicS = [] {
            return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
        };
    if (!m_hooks.makeOutput)
        m_hooks.makeOutput = [] { return std::make_unique<PlayerOutput>(); };
    if (!m_hooks.nowUtcMs)
        m_hooks.nowUtcMs = [] { return QDateTime::currentMSecsSinceEpoch(); };
    if (!m_hooks.keepPlan)
        m_hooks.keepPlan = [](const SpeedPlanRecord& plan) {
            JournalDatabase journal;
            return journal.open() ? journal.keepSpeedPlan(plan) : std::nullopt;
        };

    const auto spin = [this](const char* name, int low, int high, int value, const QString& suffix) {
        auto* box = new QSpinBox(this);
        box->setObjectName(QString::fromLatin1(name));
        box->setRange(low, high);
        box->setValue(value);
        box->setSuffix(suffix);
        return box;
    };
    const SpeedPlan defaults;
    m_startBpm = spin("StartBpm", 30, 300, static_cast<int>(defaults.startBpm), QStringLiteral(" BPM"));
    m_stepBpm = spin("StepBpm", 1, 40, static_cast<int>(defaults.stepBpm), QStringLiteral(" BPM"));
    m_targetBpm = spin("TargetBpm", 30, 300, static_cast<int>(defaults.targetBpm), QStringLiteral(" BPM"));
    m_bars = spin("Bars", 1, 32, defaults.barsPerRepetition, QStringLiteral(" bars"));
    m_minWithin = spin("MinWithin", 10, 100, static_cast<int>(defaults.rule.minWithinPercent), QStringLiteral(" %"));
    m_windowMs = spin("WindowMs", 2, 50, static_cast<int>(defaults.rule.windowMs), QStringLiteral(" ms"));
    m_grid = new QComboBox(this);
    m_grid->setObjectName(QStringLiteral("Grid"));
    for (const auto& g : kGridChoices)
        m_grid->addItem(QString::fromLatin1(g.name), g.subdivision);
    m_grid->setCurrentIndex(m_grid->findData(defaults.subdivision));

    auto* rule = new QHBoxLayout;
    rule->addWidget(new QLabel(QStringLiteral("at least"), this));
    rule->addWidget(m_minWithin);
    rule->addWidget(new QLabel(QStringLiteral("of strokes within ±"), this));
    rule->addWidget(m_windowMs);
    rule->addStretch();

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Start &at:"), m_startBpm);
    form->addRow(QStringLiteral("Step &by:"), m_stepBpm);
    form->addRow(QStringLiteral("&Target:"), m_targetBpm);
    form->addRow(QStringLiteral("&Repetition:"), m_bars);
    form->addRow(QStringLiteral("&Grid:"), m_grid);
    form->addRow(QStringLiteral("Pass:"), rule);
    form->addRow(QString(), new QLabel(QStringLiteral("and no extra stroke or missed grid point"), this));

    m_startStop = new QPushButton(QStringLiteral("&Start"), this);
    m_startStop->setObjectName(QStringLiteral("StartStop"));
    m_status = new QLabel(QStringLiteral("Ready"), this);
    m_status->setObjectName(QStringLiteral("Status"));
    QFont bold = m_status->font();
    bold.setBold(true);
    m_status->setFont(bold);
    m_best = new QLabel(this);
    m_best->setObjectName(QStringLiteral("Best"));
    m_results = new QListWidget(this);
    m_results->setObjectName(QStringLiteral("Results"));
    m_results->setMinimumHeight(120);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_status, 1);
    buttons->addWidget(m_startStop);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
    layout->addWidget(m_best);
    layout->addWidget(m_results, 1);

    m_timer = new QTimer(this);
    m_timer->setInterval(kTickMs);
    connect(m_timer, &QTimer::timeout, this, &SpeedBuilderWindow::tick);
    connect(m_startStop, &QPushButton::clicked, this, [this] { isRunning() ? stop() : start(); });
    auto* close = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(close, &QShortcut::activated, this, &QWidget::close);
}

// The program is closing: a plan going is kept with what it reached.
SpeedBuilderWindow::~SpeedBuilderWindow()
{
    stop();
}

void SpeedBuilderWindow::showModeless()
{
    show();
    raise();
    activateWindow();
}

bool SpeedBuilderWindow::isRunning() const
{
    return m_builder != nullptr;
}

QString SpeedBuilderWindow::statusText() const
{
    return m_status->text();
}

SpeedPlan SpeedBuilderWindow::plan() const
{
    SpeedPlan p;
    p.startBpm = m_startBpm->value();
    p.stepBpm = m_stepBpm->value();
    p.targetBpm = m_targetBpm->value();
    p.barsPerRepetition = m_bars->value();
    p.subdivision = m_grid->currentData().toInt();
    p.rule.minWithinPercent = m_minWithin->value();
    p.rule.windowMs = m_windowMs->value();
    return p;
}

void SpeedBuilderWindow::start()
{
    if (isRunning())
        return;
    // The plan listens to a measurement of its own, with no other click.
    if (m_hooks.armMeasurement)
        m_hooks.armMeasurement();
    m_output = m_hooks.makeOutput();
    if (!m_output || !m_output->start()) {
        m_output.reset();
        setStatus(QStringLiteral("Cannot play the click: check Options > Click…, Output"));
        return;
    }
    m_builder = std::make_unique<SpeedBuilder>(plan());
    m_clockWaitSinceS = m_hooks.monotonicS();
    m_planStartUtcMs = m_hooks.nowUtcMs();
    m_planId = 0;
    m_strokesTaken = 0;
    m_resultsShown = 0;
    m_results->clear();
    m_best->clear();
    m_startStop->setText(QStringLiteral("&Stop"));
    setStatus(QStringLiteral("Starting…"));
    m_timer->start();
}

void SpeedBuilderWindow::stop()
{
    if (isRunning())
        finish(QStringLiteral("Stopped"));
}

void SpeedBuilderWindow::tick()
{
    if (!m_builder)
        return;
    const double now = m_hooks.monotonicS();
    const SpeedStrokeFeed feed = m_hooks.strokes ? m_hooks.strokes() : SpeedStrokeFeed{};
    m_outputLine = m_output->streamLine();
    m_strokeLine = feed.clockLine;
    if (!m_outputLine || !m_strokeLine)
        m_outputLine = m_strokeLine = std::nullopt;
    if (!m_builder->started()) {
        // Both streams must have said where they stand before a click can be
        // put where the strokes will be timed.
        if (!m_output->streamOffsetFrames() || !feed.clockOffsetTicks) {
            if (now - m_clockWaitSinceS > kClockWaitS)
                finish(QStringLiteral("The click or the trigger device did not start"));
            return;
        }
        // Strokes before the first count-in belong to no repetition.
        m_strokesTaken = feed.strokes ? feed.strokes->size() : 0;
        m_builder->start(now + SpeedBuilder::kScheduleLeadS);
        if (!scheduleRepetition())
            return;
    }
    takeStrokes(feed);
    const double end = *m_builder->gridOf(m_builder->current()).endS;
    if (now >= end + kSettleS && m_builder->advance(now)) {
        const auto& results = m_builder->results();
        for (; m_resultsShown < results.size(); ++m_resultsShown) {
            const RepetitionResult& r = results[m_resultsShown];
            const QString within = r.withinPercent ? QStringLiteral("%1 % within ±%2 ms")
                                                         .arg(std::floor(*r.withinPercent))
                                                         .arg(m_builder->plan().rule.windowMs)
                                                   : QStringLiteral("no strokes");
            m_results->addItem(QStringLiteral("%1. %2 BPM: %3, %4")
                                   .arg(r.repetition.number)
                                   .arg(tempoString(r.repetition.tempoBpm),
                                        r.passed ? QStringLiteral("pass") : QStringLiteral("fail"), within));
        }
        m_results->scrollToBottom();
        if (const auto best = m_builder->highestCleanBpm())
            m_best->setText(QStringLiteral("Highest clean tempo: %1 BPM").arg(tempoString(*best)));
        if (m_builder->finished()) {
            finish(QString::fromStdString(m_builder->status(now)));
            return;
        }
        // A failed write is tried again after the next repetition and at the end.
        keepPlan(*m_builder);
        if (!scheduleRepetition())
            return;
    }
    setStatus(QString::fromStdString(m_builder->status(now)));
}

bool SpeedBuilderWindow::scheduleRepetition()
{
    const Repetition& r = m_builder->current();
    const SpeedPlan& p = m_builder->plan();
    const double rate = m_output->rate();
    ClickSegment seg;
    seg.pattern.tempoBpm = r.tempoBpm;
    seg.pattern.subdivision = p.subdivision;
    seg.pattern.beatsPerBar = p.beatsPerBar;
    seg.pattern.accent = ClickSettings.Accent;
    seg.pattern.countIn = true;
    seg.pattern.silent = p.silent;
    seg.pattern.volume = static_cast<float>(ClickSettings.VolumePercent) / 100.0f;
    seg.bars = p.barsPerRepetition;
    // The count-in's first click on the output stream: where that stream
    // stands when the monotonic clock reads countInStartS.
    seg.startSample = std::llround(m_outputLine ? m_outputLine->framesAt(r.countInStartS)
                                                : r.countInStartS * rate + *m_output->streamOffsetFrames());
    if (m_output->schedule(seg))
        return true;
    finish(QStringLiteral("The click did not take the next repetition"));
    return false;
}

void SpeedBuilderWindow::takeStrokes(const SpeedStrokeFeed& feed)
{
    if (!feed.strokes || !feed.clockOffsetTicks || feed.ticksPerSecond <= 0)
        return;
    const std::vector<StrokeEvent>& strokes = *feed.strokes;
    if (strokes.size() < m_strokesTaken)
        m_strokesTaken = 0; // a new run began
    // A stroke is heard the calibrated offset after the stream clocks put
    // its click; taking it off the stroke puts both on the click's line.
    const double latencyS = static_cast<double>(ClickSettings.latencyUsFor(DeviceProperties.TriggerDeviceType)) * 1e-6;
    const auto tps = static_cast<double>(feed.ticksPerSecond);
    for (; m_strokesTaken < strokes.size(); ++m_strokesTaken) {
        const auto tick = static_cast<double>(strokes[m_strokesTaken].tick);
        m_builder->addStroke((m_strokeLine ? m_strokeLine->timeOf(tick) : (tick - *feed.clockOffsetTicks) / tps) -
                             latencyS);
    }
}

void SpeedBuilderWindow::finish(const QString& why)
{
    m_timer->stop();
    m_output.reset();
    std::unique_ptr<SpeedBuilder> builder = std::move(m_builder);
    m_startStop->setText(QStringLiteral("&Start"));
    QString text = why;
    if (builder && !keepPlan(*builder))
        text += QStringLiteral(" (the journal could not keep the plan)");
    setStatus(text);
}

bool SpeedBuilderWindow::keepPlan(const SpeedBuilder& builder)
{
    // A plan stopped before its first repetition was judged is no plan played.
    if (builder.results().empty())
        return true;
    SpeedPlanRecord record;
    const SpeedPlan& p = builder.plan();
    record.id = m_planId;
    record.startUtcMs = m_planStartUtcMs;
    record.startBpm = p.startBpm;
    record.stepBpm = p.stepBpm;
    record.targetBpm = p.targetBpm;
    record.bars = p.barsPerRepetition;
    record.subdivision = p.subdivision;
    record.repetitions = static_cast<std::int32_t>(builder.results().size());
    record.highestCleanBpm = builder.highestCleanBpm();
    record.reachedTarget = builder.finished();
    const std::optional<std::int64_t> id = m_hooks.keepPlan(record);
    if (id)
        m_planId = *id;
    return id.has_value();
}

void SpeedBuilderWindow::setStatus(const QString& text)
{
    if (m_status->text() != text)
        m_status->setText(text);
}

#include "moc_SpeedBuilderWindow.cpp"
