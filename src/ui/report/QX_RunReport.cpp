#include "analysis/AxisScale.h"
#include "journal/RunText.h"
#include "ui/common/QX_Palette.h"
#include "ui/report/QX_RunReport.h"
#include "ui/report/ReportCharts.h"

#include <QAreaSeries>
#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QFontMetricsF>
#include <QFrame>
#include <QGraphicsLayout>
#include <QGridLayout>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineSeries>
#include <QLocale>
#include <QPainter>
#include <QScatterSeries>
#include <QValueAxis>
#include <QVBoxLayout>

#include <cmath>

using namespace ReportCharts;

namespace {

constexpr int kDefaultWidth = 980;
constexpr int kDefaultHeight = 660;

// In the order of figureRows().
const std::array<FigureText, kFigureCount> kFigureTexts{{
    {"Strokes", "", 0, "Strokes with a known time"},
    {"Time", "s", 1, "The recording time of a timed run; otherwise first to last stroke"},
    {"Speed", "/min", 1, "Strokes per minute"},
    {"Mean interval", "ms", 1, "Average time from one stroke to the next"},
    {"Interval spread", "ms", 1, "Standard deviation of the intervals"},
    {"Unevenness", "%", 1, "Spread as a share of the mean interval (coefficient of variation): lower is more even"},
    {"Longest gap", "ms", 1, "The longest time between two strokes"},
    {"Best second", "strokes", 0, "Most strokes within one second"},
    {"First 10 s", "/s", 1, "Strokes per second in the first 10 seconds (runs of 20 s or more)"},
    {"Last 10 s", "/s", 1, "Strokes per second in the last 10 seconds (runs of 20 s or more)"},
    {"Fatigue", "%", 1, "How much slower the last 10 s were than the first 10 s"},
    {"Hand balance", "%", 1,
     "Odd-numbered intervals against even-numbered ones, as a share of the mean; with single strokes, one "
     "hand's lead over the other. Near 0 is balanced"},
    {"Suspected doubles", "", 0, "Intervals under half the tempo around them: a bounce counted twice?"},
    {"Suspected misses", "", 0, "Intervals over 1.75 times the tempo around them: a stroke not counted?"},
}};

} // namespace

RunReportWindow::RunReportWindow(QWidget* parent) : QWidget(parent)
{
    setWindowFlag(Qt::Window);
    setWindowTitle(QStringLiteral("Run Report"));
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, kWindowColor);
    setPalette(palette);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(12, 10, 12, 12);
    outer->setSpacing(8);
    auto* header = new QGridLayout;
    header->setHorizontalSpacing(28);
    header->setVerticalSpacing(1);
    buildHeader(header);
    outer->addLayout(header);

    m_journalLabel = makeLabel(QString(), kCaptionColor, false, this);
    m_journalLabel->setWordWrap(true);
    m_journalLabel->hide();
    outer->addWidget(m_journalLabel);
    m_noteLabel = makeLabel(QString(), kValueColor, false, this);
    m_noteLabel->setWordWrap(true);
    m_noteLabel->hide();
    outer->addWidget(m_noteLabel);

    auto* body = new QHBoxLayout;
    body->setSpacing(10);
    auto* charts = new QVBoxLayout;
    charts->setSpacing(8);
    buildCharts(charts);
    body->addLayout(charts, 1);
    body->addWidget(buildFigures());
    outer->addLayout(body, 1);

    resize(kDefaultWidth, kDefaultHeight);
    showRun(RunRecord{});
}

RunReportWindow::~RunReportWindow() = default;

void RunReportWindow::buildHeader(QGridLayout* grid)
{
    const auto add = [&](int column, const char* caption) {
        grid->addWidget(makeLabel(QString::fromUtf8(caption), kCaptionColor, false, this), 0, column);
        QLabel* value = makeLabel(kEmpty, kValueColor, true, this);
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        grid->addWidget(value, 1, column);
        return value;
    };
    m_startLabel = add(0, "Started");
    m_timeLabel = add(1, "Recording time");
    m_countLabel = add(2, "Count");
    m_resultLabel = add(3, "Result");
    m_deviceLabel = add(4, "Device");
    m_startLabel->setObjectName(QStringLiteral("started"));
    m_timeLabel->setObjectName(QStringLiteral("recordingTime"));
    m_countLabel->setObjectName(QStringLiteral("count"));
    m_resultLabel->setObjectName(QStringLiteral("result"));
    m_deviceLabel->setObjectName(QStringLiteral("device"));
    // The device name may be long; it takes the room that is left.
    grid->setColumnStretch(4, 1);
}

QWidget* RunReportWindow::buildFigures()
{
    auto* panel = new QFrame(this);
    panel->setAutoFillBackground(true);
    QPalette palette = panel->palette();
    palette.setColor(QPalette::Window, kPanelColor);
    panel->setPalette(palette);
    panel->setFrameShape(QFrame::NoFrame);

    auto* grid = new QGridLayout(panel);
    grid->setContentsMargins(14, 12, 14, 12);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(5);
    const auto rows = figureRows(RunFigures{});
    int row = 0;
    for (std::size_t i = 0; i < kFigureCount; ++i) {
        // Blank rows group the figures: size, evenness, steadiness, errors.
        if (i == 3 || i == 8 || i == 12)
            grid->setRowMinimumHeight(row++, 8);
        const FigureText& text = kFigureTexts[i];
        QLabel* label = makeLabel(QString::fromUtf8(text.label), kCaptionColor, false, panel);
        QLabel* value = makeLabel(kEmpty, kValueColor, true, panel);
        QLabel* unit = makeLabel(QString::fromUtf8(text.unit), kCaptionColor, false, panel);
        value->setObjectName(QString::fromLatin1(rows[i].name));
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        value->setMinimumWidth(value->fontMetrics().horizontalAdvance(QStringLiteral("-00000.0")));
        for (QLabel* l : {label, value, unit})
            l->setToolTip(QString::fromUtf8(text.tip));
        grid->addWidget(label, row, 0);
        grid->addWidget(value, row, 1);
        grid->addWidget(unit, row, 2);
        m_values[i] = value;
        ++row;
    }

    row = addTimingFigures(grid, panel, row);
    grid->setRowStretch(row, 1);
    return panel;
}

void RunReportWindow::buildCharts(QVBoxLayout* column)
{
    m_speedChart = makeChart(QStringLiteral("Speed"));
    m_speedSeries = new QLineSeries;
    m_speedSeries->setName(QStringLiteral("Strokes per second"));
    m_speedSeries->setPen(QPen(kSpeedColor, 2.0));
    m_speedChart->addSeries(m_speedSeries);
    m_speedChart->legend()->hide();
    m_speedX = makeAxis(QStringLiteral("Time (s)"));
    m_speedY = makeAxis(QStringLiteral("Strokes per second"));
    m_speedChart->addAxis(m_speedX, Qt::AlignBottom);
    m_speedChart->addAxis(m_speedY, Qt::AlignLeft);
    m_speedSeries->attachAxis(m_speedX);
    m_speedSeries->attachAxis(m_speedY);

    m_intervalChart = makeChart(QStringLiteral("Intervals"));
    m_intervalSeries = new QLineSeries;
    m_intervalSeries->setName(QStringLiteral("Interval"));
    m_intervalSeries->setPen(QPen(kSlateColor, 1.0));
    m_doubleSeries = new QScatterSeries;
    m_doubleSeries->setName(QStringLiteral("Suspected double"));
    m_doubleSeries->setMarkerShape(QScatterSeries::MarkerShapeCircle);
    m_doubleSeries->setMarkerSize(9.0);
    m_doubleSeries->setColor(kDoubleColor);
    m_doubleSeries->setBorderColor(kDoubleColor.darker(130));
    m_missSeries = new QScatterSeries;
    m_missSeries->setName(QStringLiteral("Suspected miss"));
    m_missSeries->setMarkerShape(QScatterSeries::MarkerShapeTriangle);
    m_missSeries->setMarkerSize(11.0);
    m_missSeries->setColor(kMissColor);
    m_missSeries->setBorderColor(kMissColor.darker(130));
    m_intervalX = makeAxis(QStringLiteral("Stroke"));
    m_intervalY = makeAxis(QStringLiteral("Interval (ms)"));
    m_intervalChart->addAxis(m_intervalX, Qt::AlignBottom);
    m_intervalChart->addAxis(m_intervalY, Qt::AlignLeft);
    for (QXYSeries* series : std::initializer_list<QXYSeries*>{m_intervalSeries, m_doubleSeries, m_missSeries}) {
        m_intervalChart->addSeries(series);
        series->attachAxis(m_intervalX);
        series->attachAxis(m_intervalY);
    }
    m_intervalChart->legend()->setAlignment(Qt::AlignTop);
    m_intervalChart->legend()->setLabelColor(kCaptionColor);

    buildTimingChart();
    for (const auto& [chart, yAxis] : {std::pair{m_speedChart, m_speedY}, std::pair{m_intervalChart, m_intervalY},
                                       std::pair{m_timingChart, m_timingY}}) {
        auto* view = new QChartView(chart, this);
        view->setRenderHint(QPainter::Antialiasing);
        view->setMinimumSize(minimumChartSize(chart, yAxis) + QSize(2, 2) * view->frameWidth());
        column->addWidget(view, 1);
        if (chart == m_timingChart)
            m_timingView = view;
    }
    m_timingView->hide();
}

void RunReportWindow::keyPressEvent(QKeyEvent* event)
{
    // Like the help window: Escape puts the report away.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void RunReportWindow::setJournalStatus(const QString& text)
{
    m_journalLabel->setText(text);
    m_journalLabel->setVisible(!text.isEmpty());
}

QString RunReportWindow::figureText(const QString& name) const
{
    for (QLabel* value : m_values)
        if (value->objectName() == name)
            return value->text();
    for (QLabel* value : m_timingValues)
        if (value->objectName() == name)
            return value->text();
    return QString();
}

void RunReportWindow::showHeader(const RunRecord& run, bool live)
{
    const QLocale locale;
    m_startLabel->setText(run.startUtcMs > 0
                              ? locale.toString(QDateTime::fromMSecsSinceEpoch(run.startUtcMs).toLocalTime(),
                                                QLocale::ShortFormat)
                              : kEmpty);
    m_timeLabel->setText(recordingTimeText(run.recordingTimeMs));
    // While a run is played its record holds no count yet: every stroke
    // the device counted is either among its strokes or among those whose
    // time was lost.
    const qint64 count = live ? std::max<qint64>(run.count, static_cast<qint64>(run.strokes.size() +
                                                                                run.droppedEvents))
                              : run.count;
    m_countLabel->setText(locale.toString(count));
    m_resultLabel->setText(live ? QStringLiteral("In progress\u2026") : runResultText(run.result));
    m_deviceLabel->setText(runDeviceText(run.device));
}

void RunReportWindow::showNote(const RunRecord& run, std::size_t strokesWithTimes)
{
    QString note;
    if (strokesWithTimes == 0 && run.count > 0)
        note = QStringLiteral("The stroke times of this run were not kept: only its count is known.");
    else if (run.droppedEvents > 0)
        note = QStringLiteral("%1 strokes were counted but their times were lost; the figures and charts "
                              "cover the other %2.")
                   .arg(QLocale().toString(static_cast<qulonglong>(run.droppedEvents)))
                   .arg(QLocale().toString(static_cast<qulonglong>(strokesWithTimes)));
    m_noteLabel->setText(note);
    m_noteLabel->setVisible(!note.isEmpty());
}

void RunReportWindow::showFigures(const RunFigures& figures)
{
    const QLocale locale;
    const auto rows = figureRows(figures);
    for (std::size_t i = 0; i < kFigureCount; ++i) {
        const auto& value = rows[i].value;
        if (!value || !std::isfinite(*value)) {
            m_values[i]->setText(kEmpty);
            continue;
        }
        const int decimals = kFigureTexts[i].decimals;
        // A value that rounds to zero shows no sign.
        const double shown = std::abs(*value) < 0.5 * std::pow(10.0, -decimals) ? 0.0 : *value;
        m_values[i]->setText(locale.toString(shown, 'f', decimals));
    }
}

void RunReportWindow::clearCharts()
{
    m_speedLine.clear();
    m_intervalLine.clear();
    for (QXYSeries* series :
         std::initializer_list<QXYSeries*>{m_speedSeries, m_intervalSeries, m_doubleSeries, m_missSeries})
        series->clear();
}

void RunReportWindow::fitAxes(double endS, double maxPerSecond, std::int32_t strokes, double longestMs)
{
    // While following, the axes grow in steps so the chart does not shift
    // under the drummer's eyes every tenth of a second.
    double xEnd = std::max(endS, 1.0);
    double strokeEnd = std::max(strokes, 2);
    if (m_live) {
        xEnd = std::ceil(xEnd / 10.0) * 10.0;
        strokeEnd = std::ceil(strokeEnd / 50.0) * 50.0;
    }
    if (!m_live || xEnd > m_speedX->max())
        setAxis(m_speedX, 0.0, xEnd, 8);
    const double perSecondTop = std::max(5.0, std::ceil((maxPerSecond + 1) / 5.0) * 5.0);
    if (!m_live || perSecondTop > m_speedY->max())
        setAxis(m_speedY, 0.0, perSecondTop, 5);
    if (!m_live || strokeEnd > m_intervalX->max())
        setAxis(m_intervalX, 1.0, strokeEnd, 8);
    const double msTop = longestMs > 0.0 ? std::ceil(longestMs * 1.1 / 10.0) * 10.0 : 100.0;
    if (!m_live || msTop > m_intervalY->max())
        setAxis(m_intervalY, 0.0, msTop, 5);
}

void RunReportWindow::showRun(const RunRecord& run)
{
    m_live = false;
    m_analyzer.reset();
    const RunAnalysis analysis = analyzeRun(run);
    showHeader(run, false);
    showNote(run, static_cast<std::size_t>(analysis.figures.strokes));
    showFigures(analysis.figures);

    m_speedLine.clear();
    m_intervalLine.clear();
    QList<QPointF> doubles, misses;
    double maxPerSecond = 0.0;
    for (const SpeedPoint& p : analysis.speed) {
        m_speedLine.add(QPointF(p.timeS, p.strokesPerSecond));
        maxPerSecond = std::max(maxPerSecond, p.strokesPerSecond);
    }
    for (const MarkedInterval& i : analysis.intervals) {
        const QPointF point(i.stroke, i.ms);
        m_intervalLine.add(point);
        if (i.mark == IntervalMark::SuspectedDouble)
            doubles.append(point);
        else if (i.mark == IntervalMark::SuspectedMiss)
            misses.append(point);
    }
    m_speedSeries->replace(m_speedLine.points());
    m_intervalSeries->replace(m_intervalLine.points());
    m_doubleSeries->replace(doubles);
    m_missSeries->replace(misses);
    const double endS = analysis.figures.seconds.value_or(0.0);
    fitAxes(endS, maxPerSecond, analysis.figures.strokes, analysis.figures.longestGapMs.value_or(0.0));
    showTiming(run);
}

void RunReportWindow::followLive(const RunRecord& inProgress)
{
    const auto& strokes = inProgress.strokes;
    const bool sameRun = m_live && m_analyzer && inProgress.startUtcMs == m_liveStartUtcMs &&
                         strokes.size() >= m_analyzer->strokeCount() &&
                         (m_analyzer->strokeCount() == 0 || strokes.front().tick == m_liveFirstTick);
    if (!sameRun) {
        m_live = true;
        m_liveStartUtcMs = inProgress.startUtcMs;
        m_analyzer = std::make_unique<RunAnalyzer>();
        m_speedShown = m_intervalsShown = m_marksShown = 0;
        m_maxPerSecond = 0.0;
        clearCharts();
    }
    if (!strokes.empty() && m_analyzer->strokeCount() == 0)
        m_liveFirstTick = strokes.front().tick;
    const double perSecond = inProgress.ticksPerSecond > 0 ? static_cast<double>(inProgress.ticksPerSecond) : 1.0;
    for (std::size_t i = m_analyzer->strokeCount(); i < strokes.size(); ++i)
        m_analyzer->addStroke(static_cast<double>(strokes[i].tick - m_liveFirstTick) / perSecond);

    // Only what the new strokes settled is added; each line is handed over
    // whole, so its chart lays it out once per call, not once per point.
    const auto& speed = m_analyzer->settledSpeedCurve();
    if (m_speedShown < speed.size()) {
        for (; m_speedShown < speed.size(); ++m_speedShown) {
            const SpeedPoint& p = speed[m_speedShown];
            m_speedLine.add(QPointF(p.timeS, p.strokesPerSecond));
            m_maxPerSecond = std::max(m_maxPerSecond, p.strokesPerSecond);
        }
        m_speedSeries->replace(m_speedLine.points());
    }
    if (m_intervalsShown < m_analyzer->intervalCount()) {
        for (; m_intervalsShown < m_analyzer->intervalCount(); ++m_intervalsShown) {
            const MarkedInterval i = m_analyzer->interval(m_intervalsShown);
            m_intervalLine.add(QPointF(i.stroke, i.ms));
        }
        m_intervalSeries->replace(m_intervalLine.points());
    }
    // Marks are drawn once they are final, so a marker never jumps away.
    for (; m_marksShown < m_analyzer->settledIntervals(); ++m_marksShown) {
        const MarkedInterval i = m_analyzer->interval(m_marksShown);
        if (i.mark == IntervalMark::SuspectedDouble)
            m_doubleSeries->append(i.stroke, i.ms);
        else if (i.mark == IntervalMark::SuspectedMiss)
            m_missSeries->append(i.stroke, i.ms);
    }

    const RunFigures figures = m_analyzer->figures();
    showHeader(inProgress, true);
    showNote(inProgress, m_analyzer->strokeCount());
    showFigures(figures);
    fitAxes(figures.seconds.value_or(0.0), m_maxPerSecond, figures.strokes, figures.longestGapMs.value_or(0.0));
    showTiming(inProgress);
}

#include "moc_QX_RunReport.cpp"
