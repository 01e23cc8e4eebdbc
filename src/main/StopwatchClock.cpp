#include "main/MainWindowLayout.h"
#include "main/StopwatchClock.h"
#include "ui/common/QX_Palette.h"

#include "ui/common/QX_Graphics.h"

#include <QPainter>

#include <cmath>
#include <cstring>
#include <numbers>

namespace {

const QColor kMarkRed{220, 0, 0};
const QColor kMarkPale{255, 190, 190};

int roundEvenL(long double v)
{
    return static_cast<int>(std::nearbyintl(v));
}

} // namespace

void composeClock(QImage& canvas, const QImage& face, std::int32_t seconds, std::int32_t timeLimitMs)
{
    if (canvas.size() == face.size() && canvas.format() == face.format())
        std::memcpy(canvas.bits(), face.constBits(), static_cast<std::size_t>(face.sizeInBytes()));
    else
        canvas = face.copy();
    const int w = canvas.width();
    const int h = canvas.height();
    const int cx = roundEven(w * 0.47);
    const int cy = roundEven(h * 0.6);
    const int rn = roundEven(h * 0.27);
    const int rs = roundEven(h * 0.155);
    const int rm = roundEven(h * 0.288);
    constexpr long double pi = std::numbers::pi_v<long double>;

    if (seconds > 0 && rs > 0) {
        const long double a = seconds / 60.0L * 2 * pi - pi / 2;
        const int px = roundEvenL(std::cos(a) * rs);
        const int py = roundEvenL(std::sin(a) * rs);
        // From the ray through the current second, counter-clockwise on screen
        // to twelve o'clock; equal rays give the whole disc.
        const double startDeg = std::atan2(-static_cast<double>(py), static_cast<double>(px)) * 180.0 / std::numbers::pi;
        double spanDeg = 90.0 - startDeg;
        while (spanDeg <= 0.0)
            spanDeg += 360.0;
        while (spanDeg > 360.0)
            spanDeg -= 360.0;
        QPainter painter(&canvas);
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setPen(QPen(kSlateColor, 1));
        painter.setBrush(kSlateColor);
        // GDI-style corners (cx-rs+1, cy-rs+1)..(cx+rs+1, cy+rs+1), right and bottom edges excluded.
        painter.drawPie(QRect(cx - rs + 1, cy - rs + 1, 2 * rs - 1, 2 * rs - 1), roundEven(startDeg * 16),
                        roundEven(spanDeg * 16));
    }

    const long double b = seconds / 60.0L * 2 * pi;
    auto around = [&](long double angle, long double radius) {
        return QPoint(cx + roundEvenL(std::cos(angle) * radius), cy + roundEvenL(std::sin(angle) * radius));
    };
    const QPoint p1 = around(b - pi / 2, rn);
    const QPoint p2 = around(b, rn * 0.01L);
    const QPoint p3 = around(b - pi, rn * 0.01L);
    const QPoint p4 = around(b - 3 * pi / 2, rn * 0.01L);
    const QPoint m24((p2.x() + p4.x()) / 2, (p2.y() + p4.y()) / 2);
    const QPoint m34((p3.x() + p4.x()) / 2, (p3.y() + p4.y()) / 2);
    auto line = [&](QPoint from, QPoint to) {
        DrawSmoothLine(canvas, 0x000000, static_cast<float>(from.x()), static_cast<float>(from.y()),
                       static_cast<float>(to.x()), static_cast<float>(to.y()));
    };
    line(p2, p1);
    line(p1, p3);
    line(p3, p4);
    line(p4, p2);
    line(p1, p4);
    line(m24, p1);
    line(m34, p1);

    if (timeLimitMs > 0) {
        const int l = roundEven(timeLimitMs / 1000.0);
        const long double c = l / 60.0L * 2 * pi - pi / 2;
        const QPoint q = around(c, rm);
        const QColor mark = l == 60 ? kMarkPale : kMarkRed;
        QPainter painter(&canvas);
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setPen(QPen(mark, 1));
        painter.setBrush(mark);
        painter.drawEllipse(QRect(q.x() - 3, q.y() - 3, 5, 5));
    }

}

QImage clockOverlay(const QImage& canvas)
{
    if (canvas.isNull())
        return {};
    QImage out(canvas.size(), QImage::Format_ARGB32_Premultiplied);
    const uchar* key = canvas.constScanLine(canvas.height() - 1);
    const uchar kb = key[0], kg = key[1], kr = key[2];
    for (int y = 0; y < canvas.height(); ++y) {
        const uchar* src = canvas.constScanLine(y);
        auto* dst = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < canvas.width(); ++x, src += 3) {
            const bool backdrop = src[0] == kb && src[1] == kg && src[2] == kr;
            dst[x] = backdrop ? 0u : qRgb(src[2], src[1], src[0]);
        }
    }
    return out;
}
