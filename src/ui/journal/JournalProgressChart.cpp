#include "ui/journal/JournalProgressChart.h"

#include "analysis/AxisScale.h"
#include "journal/JournalProgress.h"

#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateTime>
#include <QFontMetrics>
#include <QLabel>
#include <QLineSeries>
#include <QLocale>
#include <QScatterSeries>
#include <QStackedWidget>
#include <QValueAxis>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include <cmath>

namespace {

QList<QPointF> toList(const std::vector<QPointF>& points)
{
    return QList<QPointF>(points.begin(), points.end());
}

using Measure = JournalProgressChart::Measure;

// Endless runs differ in length, so their speed compares, not their count.
// The timing share comes from the runs played with the click; records are
// the count's.
std::vector<ProgressRun> progressRuns(const std::vector<JournalRun>& runs, std::int32_t recordingTimeMs,
                                      Measure measure)
{
    const bool endless = recordingTimeMs < 0;
    std::vector<ProgressRun> points;
    points.reserve(runs.size());
    for (const JournalRun& j : runs) {
        if (j.run.recordingTimeMs != recordingTimeMs)
            continue;
        if (measure == Measure::Within10) {
            if (j.summary.within10Percent)
                points.push_back({j.run.startUtcMs, *j.summary.within10Percent, false});
            continue;
        }
        if (endless && !j.summary.strokesPerMinute)
            continue;
        points.push_back({j.run.startUtcMs, endless ? *j.summary.strokesPerMinute : j.run.count,
                          j.run.result == RunResult::Record});
    }
    return points;
}

} // namespace

JournalProgressChart::JournalProgressChart(QWidget* parent)
    : QWidget(parent)
    , m_measure(new QComboBox(this))
    , m_stack(new QStackedWidget(this))
    , m_note(new QLabel(tr("Choose a recording time above to see your progress."), this))
    , m_view(new QChartView(this))
    , m_figures(new QLabel(this))
{
    m_note->setAlignment(Qt::AlignCenter);
    m_note->setWordWrap(true);
    m_view->setRenderHint(QPainter::Antialiasing);
    m_view->setMinimumHeight(220);
    m_stack->addWidget(m_note);
    m_stack->addWidget(m_view);
    m_figures->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_measure->setObjectName(QStringLiteral("ProgressMeasure"));
    m_measure->addItem(tr("Count"), static_cast<int>(Measure::Count));
    m_measure->addItem(tr("% within ±10 ms of the click"), static_cast<int>(Measure::Within10));
    m_measure->addItem(tr("Speed builder: highest clean tempo"), static_cast<int>(Measure::HighestClean));
    connect(m_measure, &QComboBox::currentIndexChanged, this, &JournalProgressChart::redraw);
    auto* chooser = new QHBoxLayout;
    auto* chooserLabel = new QLabel(tr("C&hart:"), this);
    chooserLabel->setBuddy(m_measure);
    chooser->addWidget(chooserLabel);
    chooser->addWidget(m_measure);
    chooser->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(chooser);
    layout->addWidget(m_stack, 1);
    layout->addWidget(m_figures);
    m_figures->hide();
}

QChart* JournalProgressChart::chart() const
{
    return m_view->chart();
}

QString JournalProgressChart::figuresText() const
{
    return m_figures->isHidden() ? QString() : m_figures->text();
}

bool JournalProgressChart::showsNote() const
{
    return m_stack->currentWidget() == m_note;
}

void JournalProgressChart::setSpeedPlans(std::vector<SpeedPlanRecord> plans)
{
    m_plans = std::move(plans);
    if (measure() == Measure::HighestClean)
        redraw();
}

void JournalProgressChart::setMeasure(Measure measure)
{
    m_measure->setCurrentIndex(m_measure->findData(static_cast<int>(measure)));
}

JournalProgressChart::Measure JournalProgressChart::measure() const
{
    return static_cast<Measure>(m_measure->currentData().toInt());
}

void JournalProgressChart::showRuns(const std::vector<JournalRun>& runs, std::optional<std::int32_t> recordingTimeMs,
                                    const std::vector<JournalRun>& earlier)
{
    m_runs = runs;
    m_earlier = earlier;
    m_recordingTimeMs = recordingTimeMs;
    redraw();
}

void JournalProgressChart::redraw()
{
    const Measure shown = measure();
    const bool plans = shown == Measure::HighestClean;
    // A plan's tempo compares across recording times; counts do not.
    const std::optional<std::int32_t> recordingTimeMs = plans ? std::optional<std::int32_t>(0) : m_recordingTimeMs;
    if (!recordingTimeMs) {
        m_stack->setCurrentWidget(m_note);
        m_figures->hide();
        return;
    }
    const bool timing = shown != Measure::Count; // a share or a tempo: neither a count nor strokes per minute
    const bool endless = *recordingTimeMs < 0 && !timing;
    std::vector<ProgressRun> points;
    std::optional<double> bestBefore;
    if (plans) {
        for (const SpeedPlanRecord& p : m_plans)
            if (p.highestCleanBpm)
                points.push_back({p.startUtcMs, *p.highestCleanBpm, false});
    } else {
        points = progressRuns(m_runs, *recordingTimeMs, shown);
        for (const ProgressRun& r : progressRuns(m_earlier, *recordingTimeMs, shown))
            bestBefore = std::max(bestBefore.value_or(r.value), r.value);
    }
    const QTimeZone zone = QTimeZone::systemTimeZone();
    const ProgressSeries series = progressSeries(points, zone, bestBefore);
    const ProgressFigures figures = progressFigures(points, zone);

    auto* chart = new QChart;
    chart->legend()->setAlignment(Qt::AlignBottom);
    chart->setMargins(QMargins(4, 4, 4, 4));
    auto* all = new QScatterSeries;
    all->setName(plans ? tr("Plans") : tr("Runs"));
    all->setMarkerSize(6);
    all->setBorderColor(Qt::transparent);
    all->setColor(QColor(0x5b, 0x8d, 0xc9));
    all->replace(toList(series.runs));
    auto* best = new QLineSeries;
    best->setName(tr("Best so far"));
    best->setPen(QPen(QColor(0x2e, 0x7d, 0x32), 2));
    best->replace(toList(series.bestSoFar));
    auto* weekly = new QLineSeries;
    weekly->setName(tr("Best of the week"));
    weekly->setPen(QPen(QColor(0xef, 0x8a, 0x17), 1.5));
    weekly->replace(toList(series.weeklyBest));
    // One week of runs is one point, which a line alone would not show.
    weekly->setPointsVisible(true);
    auto* records = new QScatterSeries;
    records->setName(tr("Records"));
    records->setMarkerShape(QScatterSeries::MarkerShapeRectangle);
    records->setMarkerSize(9);
    records->setColor(QColor(0xd3, 0x2f, 0x2f));
    records->setBorderColor(QColor(0x7f, 0x00, 0x00));
    records->replace(toList(series.records));
    for (QAbstractSeries* s : std::initializer_list<QAbstractSeries*>{all, weekly, best, records})
        chart->addSeries(s);
    // Records are the count's; the timing share has none.
    if (timing) {
        chart->removeSeries(records);
        delete records;
    }

    auto* x = new QCategoryAxis;
    x->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    auto* y = new QValueAxis;
    y->setTitleText(plans ? tr("Clean tempo (BPM)") : timing ? tr("±10 ms (%)") : endless ? tr("Strokes per minute") : tr("Count"));
    if (!series.runs.empty()) {
        double low = series.runs.front().y(), high = low;
        for (const std::vector<QPointF>* line : {&series.runs, &series.bestSoFar})
            for (const QPointF& p : *line) {
                low = std::min(low, p.y());
                high = std::max(high, p.y());
            }
        // Room above and below, so no run sits on the frame, then round ticks.
        const double pad = std::max(0.5, (high - low) * 0.04);
        const AxisScale scale = niceScale(std::max(0.0, low - pad),
                                          timing && !plans ? std::min(100.0, high + pad) : high + pad, 5,
                                          !endless && !timing);
        y->setTickType(QValueAxis::TicksDynamic);
        y->setTickAnchor(0.0);
        y->setTickInterval(scale.step);
        y->setLabelFormat(scale.step < 1.0 ? QStringLiteral("%.1f") : QStringLiteral("%.0f"));
        y->setRange(scale.minimum, scale.maximum);

        const DateAxis dates = dateAxis(static_cast<std::int64_t>(series.runs.front().x()),
                                        static_cast<std::int64_t>(series.runs.back().x()), zone);
        // Labels sit on their category's end: the first tick ends a
        // category of one millisecond, so the axis's left end is labelled too.
        x->setStartValue(static_cast<qreal>(dates.fromUtcMs - 1));
        for (const DateTick& tick : dates.ticks)
            x->append(tick.label, static_cast<qreal>(tick.utcMs));
        x->setRange(static_cast<qreal>(dates.fromUtcMs), static_cast<qreal>(dates.toUtcMs));
        x->setTitleText(dates.title);
        // The last label is centred on the right end: room for its half.
        const int half = QFontMetrics(x->labelsFont()).horizontalAdvance(dates.ticks.back().label) / 2;
        chart->setMargins(QMargins(4, 4, std::max(4, half), 4));
    }
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    for (QAbstractSeries* s : chart->series()) {
        s->attachAxis(x);
        s->attachAxis(y);
    }
    QChart* old = m_view->chart();
    m_view->setChart(chart);
    delete old;
    m_stack->setCurrentWidget(m_view);

    const QLocale locale;
    const QString unit = plans ? tr(" BPM") : timing ? tr(" % within ±10 ms") : endless ? tr(" strokes/min") : tr(" strokes");
    QStringList parts;
    parts << (plans ? tr("Plans: %1") : tr("Runs: %1")).arg(figures.runs);
    if (figures.best) {
        parts << tr("Best: %1%2 on %3")
                     .arg(locale.toString(*figures.best, 'f', endless || timing ? 1 : 0), unit,
                          locale.toString(QDateTime::fromMSecsSinceEpoch(*figures.bestStartUtcMs).toLocalTime().date(),
                                          QLocale::ShortFormat));
    }
    if (figures.recentChangePercent) {
        const double change = *figures.recentChangePercent;
        parts << tr("Last 10 runs against the 10 before: %1%2 %")
                     .arg(change > 0 ? QStringLiteral("+") : QString(), locale.toString(change, 'f', 1));
    }
    parts << tr("Days practised: %1").arg(figures.daysPractised);
    m_figures->setText(parts.join(QStringLiteral("    ")));
    m_figures->show();
}

#include "moc_JournalProgressChart.cpp"
