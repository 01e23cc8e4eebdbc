// The run report's timing against the click: its figures under the run's,
// and the chart of each stroke's offset from its grid point.
#include "analysis/RunTiming.h"
#include "ui/common/ThinnedLine.h"
#include "ui/report/QX_RunReport.h"
#include "ui/report/ReportCharts.h"

#include <QAreaSeries>
#include <QChart>
#include <QChartView>
#include <QGridLayout>
#include <QImage>
#include <QLabel>
#include <QLegend>
#include <QLineSeries>
#include <QLocale>
#include <QPainter>
#include <QValueAxis>

#include <algorithm>
#include <array>
#include <cmath>

using namespace ReportCharts;

namespace {

const QColor kBandColor{120, 190, 120, 70};
const QColor kSilentColor{150, 150, 170, 60};
const QColor kSilentStrokeColor{222, 150, 32};
constexpr double kWithinBandMs = 10.0;
// Silent stretches shaded at most: a day of bars is more than any run has.
constexpr std::int64_t kMaxShadedBars = 20000;

// In the order of timingRows().
const std::array<FigureText, 10> kTimingTexts{{
    {"Mean offset", "ms", 1, "Each stroke against its nearest grid point, on average: negative early, positive late"},
    {"Offset spread", "ms", 1, "Standard deviation of the offsets"},
    {"Within ±10 ms", "%", 1, "Strokes within 10 ms of their grid point"},
    {"Within ±20 ms", "%", 1, "Strokes within 20 ms of their grid point"},
    {"Played tempo", "BPM", 1, "The tempo the strokes kept, against the click's"},
    {"Drift", "ms/min", 1, "How the offsets move over time; over the silent bars when the click has them"},
    {"Hand A offset", "ms", 1, "Mean offset of the first, third, fifth ... stroke"},
    {"Hand B offset", "ms", 1, "Mean offset of the second, fourth, sixth ... stroke"},
    {"Missed points", "", 0, "Grid points no stroke was nearest to"},
    {"Extra strokes", "", 0, "Strokes beside another that was nearer the same grid point"},
}};

} // namespace

int RunReportWindow::addTimingFigures(QGridLayout* grid, QWidget* panel, int row)
{
    // The timing figures, for a run played with the click.
    QLabel* heading = makeLabel(QStringLiteral("Against the click"), kValueColor, true, panel);
    grid->setRowMinimumHeight(row, 8);
    grid->addWidget(heading, row + 1, 0, 1, 3);
    m_timingRows = {heading};
    row += 2;
    const auto timing = timingRows(TimingFigures{});
    for (std::size_t i = 0; i < kTimingTexts.size(); ++i) {
        const FigureText& text = kTimingTexts[i];
        QLabel* label = makeLabel(QString::fromUtf8(text.label), kCaptionColor, false, panel);
        QLabel* value = makeLabel(kEmpty, kValueColor, true, panel);
        QLabel* unit = makeLabel(QString::fromUtf8(text.unit), kCaptionColor, false, panel);
        value->setObjectName(QString::fromLatin1(timing[i].name));
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        for (QLabel* l : {label, value, unit}) {
            l->setToolTip(QString::fromUtf8(text.tip));
            m_timingRows.push_back(l);
        }
        grid->addWidget(label, row, 0);
        grid->addWidget(value, row, 1);
        grid->addWidget(unit, row, 2);
        m_timingValues.push_back(value);
        ++row;
    }
    return row;
}

void RunReportWindow::buildTimingChart()
{
    m_timingChart = makeChart(QStringLiteral("Timing against the click"));
    m_silentSeries = new QAreaSeries(new QLineSeries(m_timingChart), new QLineSeries(m_timingChart));
    m_silentSeries->setName(QStringLiteral("Silent bars"));
    m_silentSeries->setBrush(kSilentColor);
    m_silentSeries->setPen(Qt::NoPen);
    m_bandSeries = new QAreaSeries(new QLineSeries(m_timingChart), new QLineSeries(m_timingChart));
    m_bandSeries->setName(QStringLiteral("±10 ms"));
    m_bandSeries->setBrush(kBandColor);
    m_bandSeries->setPen(Qt::NoPen);
    // Dots drawn from one small image each, without a line between them: a
    // scatter series makes a graphics item per point, which would cost a
    // run with the click twice the rest of the report's live step.
    const auto dots = [](const QString& name, const QColor& color) {
        auto* series = new QLineSeries;
        series->setName(name);
        series->setPen(Qt::NoPen);
        series->setColor(color);
        series->setMarkerSize(6.0);
        QImage dot(12, 12, QImage::Format_ARGB32_Premultiplied);
        dot.fill(Qt::transparent);
        QPainter painter(&dot);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawEllipse(QRectF(0.5, 0.5, 11.0, 11.0));
        painter.end();
        series->setLightMarker(dot);
        return series;
    };
    m_offsetSeries = dots(QStringLiteral("Stroke"), kSpeedColor);
    m_silentOffsetSeries = dots(QStringLiteral("Stroke in a silent bar"), kSilentStrokeColor);
    m_timingX = makeAxis(QStringLiteral("Time (s)"));
    m_timingY = makeAxis(QStringLiteral("Offset (ms)"));
    m_timingChart->addAxis(m_timingX, Qt::AlignBottom);
    m_timingChart->addAxis(m_timingY, Qt::AlignLeft);
    for (QAbstractSeries* series : std::initializer_list<QAbstractSeries*>{m_silentSeries, m_bandSeries, m_offsetSeries,
                                                                          m_silentOffsetSeries}) {
        m_timingChart->addSeries(series);
        series->attachAxis(m_timingX);
        series->attachAxis(m_timingY);
    }
    m_timingChart->legend()->setAlignment(Qt::AlignTop);
    m_timingChart->legend()->setLabelColor(kCaptionColor);
}

bool RunReportWindow::showsTiming() const
{
    return m_timingView && !m_timingView->isHidden();
}

// Recomputed whole on every call: a stroke's offset depends only on the
// grid, but which of two close strokes is the timed one and which the extra
// can change when the second arrives. A 20,000-stroke run takes about a
// millisecond; the scatter is thinned like the lines.
void RunReportWindow::showTiming(const RunRecord& run)
{
    const std::optional<TimingAnalysis> timing = analyzeRunTiming(run);
    const bool shown = timing && !run.strokes.empty();
    m_timingView->setVisible(shown);
    for (QLabel* label : m_timingRows)
        label->setVisible(shown);
    if (!shown)
        return;

    const QLocale locale;
    const auto rows = timingRows(timing->figures);
    for (std::size_t i = 0; i < rows.size() && i < m_timingValues.size(); ++i) {
        const auto& value = rows[i].value;
        const int decimals = kTimingTexts[i].decimals;
        const double v = value && std::isfinite(*value) ? *value : 0.0;
        const double shownValue = std::abs(v) < 0.5 * std::pow(10.0, -decimals) ? 0.0 : v;
        m_timingValues[i]->setText(value && std::isfinite(*value) ? locale.toString(shownValue, 'f', decimals) : kEmpty);
    }

    const double firstS = timing->strokes.front().timeS;
    ThinnedLine played, silent;
    double largestMs = 0.0;
    for (const StrokeTiming& st : timing->strokes) {
        if (st.fit != StrokeFit::Timed)
            continue;
        (st.silent ? silent : played).add(QPointF(st.timeS - firstS, st.offsetMs));
        largestMs = std::max(largestMs, std::abs(st.offsetMs));
    }
    m_offsetSeries->replace(played.points());
    m_silentOffsetSeries->replace(silent.points());

    const double endS = std::max(1.0, timing->strokes.back().timeS - firstS);
    const double xEnd = m_live ? std::ceil(endS / 10.0) * 10.0 : endS;
    const double yTop = std::max(25.0, std::ceil(largestMs * 1.1 / 5.0) * 5.0);
    setAxis(m_timingX, 0.0, xEnd, 8);
    setAxis(m_timingY, -yTop, yTop, 6);
    m_bandSeries->upperSeries()->replace({QPointF(0.0, kWithinBandMs), QPointF(xEnd, kWithinBandMs)});
    m_bandSeries->lowerSeries()->replace({QPointF(0.0, -kWithinBandMs), QPointF(xEnd, -kWithinBandMs)});

    // The silent bars as a step line over the whole height.
    const RunClick& click = *run.click;
    const TimingGrid grid = runGrid(click, run.ticksPerSecond);
    const double barS = grid.stepS() * grid.subdivision * grid.beatsPerBar;
    QList<QPointF> steps{QPointF(0.0, -yTop)};
    if (click.barsOff > 0 && barS > 0.0) {
        const double fromBar = std::floor((firstS - grid.startS) / barS);
        const double toBar = std::ceil((firstS + xEnd - grid.startS) / barS);
        const std::int64_t from = static_cast<std::int64_t>(std::max(0.0, fromBar));
        const std::int64_t to = std::min(static_cast<std::int64_t>(std::max(0.0, toBar)), from + kMaxShadedBars);
        const std::int64_t cycle = std::int64_t{click.barsOn} + click.barsOff;
        for (std::int64_t bar = from; bar < to; ++bar) {
            if (bar % cycle < click.barsOn)
                continue;
            const double x0 = std::max(0.0, grid.startS + static_cast<double>(bar) * barS - firstS);
            const double x1 = std::min(xEnd, x0 + barS);
            if (x1 <= x0)
                continue;
            steps << QPointF(x0, -yTop) << QPointF(x0, yTop) << QPointF(x1, yTop) << QPointF(x1, -yTop);
        }
    }
    steps << QPointF(xEnd, -yTop);
    m_silentSeries->upperSeries()->replace(steps);
    m_silentSeries->lowerSeries()->replace({QPointF(0.0, -yTop), QPointF(xEnd, -yTop)});
}
