#include "ui/report/ReportCharts.h"

#include "analysis/AxisScale.h"
#include "ui/common/QX_Palette.h"

#include <QAbstractSeries>
#include <QChart>
#include <QFontMetricsF>
#include <QGraphicsLayout>
#include <QLabel>
#include <QLegend>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

namespace ReportCharts {

QLabel* makeLabel(const QString& text, const QColor& color, bool bold, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
    if (bold) {
        QFont font = label->font();
        font.setBold(true);
        label->setFont(font);
    }
    return label;
}

void setAxis(QValueAxis* axis, double minimum, double maximum, int ticks)
{
    const double step = niceStep(maximum - minimum, ticks);
    axis->setTickAnchor(0.0);
    axis->setTickInterval(step);
    axis->setLabelFormat(step < 1.0 ? QStringLiteral("%.1f") : QStringLiteral("%.0f"));
    axis->setRange(minimum, maximum);
}

QValueAxis* makeAxis(const QString& title)
{
    auto* axis = new QValueAxis;
    axis->setTitleText(title);
    axis->setTickType(QValueAxis::TicksDynamic);
    axis->setGridLineColor(kGridLineColor);
    axis->setLabelsColor(kCaptionColor);
    axis->setTitleBrush(kCaptionColor);
    QFont font = axis->labelsFont();
    font.setPointSizeF(font.pointSizeF() * 0.9);
    axis->setLabelsFont(font);
    axis->setTitleFont(font);
    return axis;
}

// The size a chart needs for its plot to hold its y-axis title whole and
// for its legend to show every name whole. Everything around the plot
// (title, legend, tick labels, the x-axis title) keeps its height whatever
// the chart's, so one layout at a trial size tells how much that is in this
// font; the interval chart's legend makes it taller than the speed chart.
QSize minimumChartSize(QChart* chart, const QValueAxis* yAxis)
{
    constexpr qreal kTrialHeight = 400.0;
    chart->resize(QSizeF(480.0, kTrialHeight));
    chart->layout()->activate();
    const qreal around = kTrialHeight - chart->plotArea().height();
    // The title's bounding box has padding of its own; a little air above it,
    // and never less than a plot that still shows its shape.
    const qreal title = QFontMetricsF(yAxis->titleFont()).horizontalAdvance(yAxis->titleText());
    const qreal height = around + std::max(title + 16.0, 90.0);
    // A legend in one row: each entry is its marker, its name and the gaps
    // around them, about three line heights besides the name.
    qreal legend = 0.0;
    if (chart->legend()->isVisible()) {
        const QFontMetricsF metrics(chart->legend()->font());
        for (const QAbstractSeries* series : chart->series())
            legend += metrics.horizontalAdvance(series->name()) + 3.0 * metrics.height();
        legend += chart->margins().left() + chart->margins().right();
    }
    return QSize(static_cast<int>(std::ceil(legend)), static_cast<int>(std::ceil(height)));
}

QChart* makeChart(const QString& title)
{
    auto* chart = new QChart;
    chart->setTitle(title);
    chart->setTitleBrush(kValueColor);
    QFont font = chart->titleFont();
    font.setBold(true);
    chart->setTitleFont(font);
    chart->setBackgroundBrush(kPanelColor);
    chart->setBackgroundRoundness(0);
    // The chart's panel fills its view, so its edges line up with the figures'.
    chart->layout()->setContentsMargins(0, 0, 0, 0);
    chart->setPlotAreaBackgroundBrush(kPlotColor);
    chart->setPlotAreaBackgroundVisible(true);
    chart->setMargins(QMargins(4, 2, 8, 2));
    return chart;
}

} // namespace ReportCharts
