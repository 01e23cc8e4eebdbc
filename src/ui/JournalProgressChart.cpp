#include "JournalProgressChart.h"

#include "JournalProgress.h"

#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QLabel>
#include <QLineSeries>
#include <QLocale>
#include <QScatterSeries>
#include <QStackedWidget>
#include <QValueAxis>
#include <QVBoxLayout>

#include <cmath>

namespace {

QList<QPointF> toList(const std::vector<QPointF>& points)
{
    return QList<QPointF>(points.begin(), points.end());
}

} // namespace

JournalProgressChart::JournalProgressChart(QWidget* parent)
    : QWidget(parent)
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
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
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

void JournalProgressChart::showRuns(const std::vector<JournalRun>& runs, std::optional<std::int32_t> recordingTimeMs)
{
    if (!recordingTimeMs) {
        m_stack->setCurrentWidget(m_note);
        m_figures->hide();
        return;
    }
    const bool endless = *recordingTimeMs < 0;
    std::vector<ProgressRun> points;
    points.reserve(runs.size());
    for (const JournalRun& j : runs) {
        if (j.run.recordingTimeMs != *recordingTimeMs)
            continue;
        // Endless runs differ in length, so their speed compares, not their count.
        if (endless && !j.summary.strokesPerMinute)
            continue;
        points.push_back({j.run.startUtcMs, endless ? *j.summary.strokesPerMinute : j.run.count,
                          j.run.result == RunResult::Record});
    }
    const QTimeZone zone = QTimeZone::systemTimeZone();
    const ProgressSeries series = progressSeries(points, zone);
    const ProgressFigures figures = progressFigures(points, zone);

    auto* chart = new QChart;
    chart->legend()->setAlignment(Qt::AlignBottom);
    chart->setMargins(QMargins(4, 4, 4, 4));
    auto* all = new QScatterSeries;
    all->setName(tr("Runs"));
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
    auto* records = new QScatterSeries;
    records->setName(tr("Records"));
    records->setMarkerShape(QScatterSeries::MarkerShapeRectangle);
    records->setMarkerSize(9);
    records->setColor(QColor(0xd3, 0x2f, 0x2f));
    records->setBorderColor(QColor(0x7f, 0x00, 0x00));
    records->replace(toList(series.records));
    for (QAbstractSeries* s : std::initializer_list<QAbstractSeries*>{all, weekly, best, records})
        chart->addSeries(s);

    auto* x = new QDateTimeAxis;
    x->setFormat(QStringLiteral("d MMM yy"));
    x->setTickCount(6);
    auto* y = new QValueAxis;
    y->setTitleText(endless ? tr("Strokes per minute") : tr("Count"));
    y->setLabelFormat(QStringLiteral("%.0f"));
    if (!series.runs.empty()) {
        double low = series.runs.front().y(), high = low;
        for (const QPointF& p : series.runs) {
            low = std::min(low, p.y());
            high = std::max(high, p.y());
        }
        const double pad = std::max(1.0, (high - low) * 0.08);
        y->setRange(std::max(0.0, std::floor(low - pad)), std::ceil(high + pad));
        // A single day still gets a readable span.
        const qint64 first = static_cast<qint64>(series.runs.front().x());
        const qint64 last = std::max<qint64>(static_cast<qint64>(series.runs.back().x()), first + 86'400'000);
        const qint64 margin = (last - first) / 40;
        x->setRange(QDateTime::fromMSecsSinceEpoch(first - margin), QDateTime::fromMSecsSinceEpoch(last + margin));
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
    const QString unit = endless ? tr(" strokes/min") : tr(" strokes");
    QStringList parts;
    parts << tr("Runs: %1").arg(figures.runs);
    if (figures.best) {
        parts << tr("Best: %1%2 on %3")
                     .arg(locale.toString(*figures.best, 'f', endless ? 1 : 0), unit,
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
