#pragma once
// What the run report's figures and charts share: its colours beside the
// program's palette, the text of a figure row, and the chart and axis
// builders, so every chart of the report looks alike.

#include <QColor>
#include <QSize>
#include <QString>

class QChart;
class QLabel;
class QValueAxis;
class QWidget;

namespace ReportCharts {

// Beside the program's palette: one calm blue for the speed and
// two muted warning colours that stay apart for colour-blind eyes.
inline const QColor kPlotColor{246, 248, 252};
inline const QColor kCaptionColor{96, 108, 130};
inline const QColor kValueColor{24, 32, 56};
inline const QColor kGridLineColor{214, 221, 234};
inline const QColor kSpeedColor{71, 122, 202};
inline const QColor kDoubleColor{196, 64, 64};
inline const QColor kMissColor{222, 150, 32};

// A figure with no value yet.
inline const QString kEmpty = QStringLiteral("\u2013");

struct FigureText {
    const char* label;
    const char* unit;
    int decimals; // on screen: enough to compare runs, no more
    const char* tip;
};

QLabel* makeLabel(const QString& text, const QColor& color, bool bold, QWidget* parent);
// Round ticks from minimum to maximum, about `ticks` of them.
void setAxis(QValueAxis* axis, double minimum, double maximum, int ticks);
QValueAxis* makeAxis(const QString& title);
// The size a chart needs for its plot to hold its y-axis title whole and
// for its legend to show every name whole.
QSize minimumChartSize(QChart* chart, const QValueAxis* yAxis);
QChart* makeChart(const QString& title);

} // namespace ReportCharts
