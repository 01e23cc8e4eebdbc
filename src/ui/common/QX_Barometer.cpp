#include "ui/common/QX_Barometer.h"

#include "ui/common/QX_Graphics.h"

#include <QPainter>
#include <QResizeEvent>

#include <cmath>

TQX_Barometer::TQX_Barometer(QWidget* parent)
    : QWidget(parent)
{
}

TQX_Barometer::~TQX_Barometer() = default;

void TQX_Barometer::SetLevel(float Value)
{
    Level = Value;
}

void TQX_Barometer::resizeEvent(QResizeEvent* event)
{
    CanResize(event->size().width(), event->size().height());
    QWidget::resizeEvent(event);
}

void TQX_Barometer::CanResize(int NewWidth, int NewHeight)
{
    // The lit picture leaves out its first row and column: the tube's top
    // cap and left rim belong to the unlit glass only.
    const QImage lit = LoadPicture(QStringLiteral(":/BAROMETER"));
    ResampleBitmap(lit, 1, 1, 12, 256, LitBitmap, NewWidth, NewHeight);
    const QImage dark = LoadPicture(QStringLiteral(":/BARO_OFF"));
    ResampleBitmap(dark, 0, 0, 13, 257, DarkBitmap, NewWidth, NewHeight);
}

void TQX_Barometer::paintEvent(QPaintEvent*)
{
    if (LitBitmap.isNull() || DarkBitmap.isNull())
        return;
    // Rows are rounded half to even. Levels beyond 0..1 (and NaN) draw the
    // same as the nearest end of the range, so the row count is held there
    // before it becomes an integer.
    const int height = LitBitmap.height();
    const double rows = std::nearbyint(double(height) * double(Level));
    const int lit = rows > 0.0 ? (rows < double(height) ? int(rows) : height) : 0;
    const int top = DarkBitmap.height() - lit;

    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    if (top > 0)
        painter.drawImage(QPoint(0, 0), DarkBitmap, QRect(0, 0, DarkBitmap.width(), top));
    if (lit > 0)
        painter.drawImage(QPoint(0, top), LitBitmap, QRect(0, top, LitBitmap.width(), lit));
}

#include "moc_QX_Barometer.cpp"
