#include "ui/competition/ResultSheet.h"

#include "persistence/QX_AtomicFile.h"

#include <QBuffer>
#include <QDateTime>
#include <QLocale>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>

#include <algorithm>
#include <cmath>

namespace {

QString grouped(std::int64_t n)
{
    return QLocale(QLocale::English, QLocale::UnitedStates).toString(static_cast<qlonglong>(n));
}

QString figureText(const FigureRow& row)
{
    if (!row.value)
        return QStringLiteral("–");
    return QString::number(*row.value, 'f', figureDecimals(row.unit));
}

void drawSpeedCurve(QPainter& p, const QRectF& box, const std::vector<SpeedPoint>& speed, double seconds)
{
    p.setPen(QPen(Qt::black, 0));
    p.drawRect(box);
    if (speed.empty() || seconds <= 0)
        return;
    double top = 0.0;
    for (const SpeedPoint& s : speed)
        top = std::max(top, s.strokesPerSecond);
    top = std::max(5.0, std::ceil(top / 5.0) * 5.0);
    QFont small = p.font();
    small.setPointSizeF(7);
    p.setFont(small);
    for (double v = 0; v <= top; v += 5.0) {
        const double y = box.bottom() - v / top * box.height();
        p.setPen(QPen(Qt::lightGray, 0));
        p.drawLine(QPointF(box.left(), y), QPointF(box.right(), y));
        p.setPen(Qt::black);
        p.drawText(QRectF(box.left() - 40, y - 8, 36, 16), Qt::AlignRight | Qt::AlignVCenter, QString::number(v));
    }
    QPainterPath path;
    for (std::size_t i = 0; i < speed.size(); ++i) {
        const QPointF pt(box.left() + speed[i].timeS / seconds * box.width(),
                         box.bottom() - speed[i].strokesPerSecond / top * box.height());
        i == 0 ? path.moveTo(pt) : path.lineTo(pt);
    }
    p.setPen(QPen(QColor(0, 70, 160), 2));
    p.drawPath(path);
    p.setPen(Qt::black);
    p.drawText(QRectF(box.left(), box.bottom() + 2, box.width(), 16), Qt::AlignCenter,
               QStringLiteral("strokes per second over %1 s").arg(seconds, 0, 'f', 0));
}

} // namespace

void paintResultSheet(QPaintDevice& device, const AuditRecord& record, const RunAnalysis& analysis)
{
    QPainter p(&device);
    // Everything is laid out on a 1000-unit-wide page, whatever the device's resolution.
    const double scale = device.width() / 1000.0;
    p.scale(scale, scale);
    const double height = device.height() / scale;
    QFont base(QStringLiteral("Arial"));
    base.setPointSizeF(10);
    p.setFont(base);

    double y = 0;
    auto line = [&](const QString& text, double points, bool bold = false, double gap = 1.4) {
        QFont f = base;
        f.setPointSizeF(points);
        f.setBold(bold);
        p.setFont(f);
        const double h = QFontMetricsF(f, &device).height() / scale * gap;
        p.drawText(QRectF(0, y, 1000, h), Qt::AlignLeft | Qt::AlignVCenter, text);
        y += h;
    };
    line(record.competition.isEmpty() ? QStringLiteral("Competition") : record.competition, 16, true);
    line(QStringLiteral("%1 — %2").arg(record.drummer, record.final ? QStringLiteral("final") : QStringLiteral("heat")), 13);
    line(QStringLiteral("Attempt %1, %2").arg(record.id).arg(record.startedAt), 9);
    y += 10;
    line(grouped(record.count), 48, true, 1.1);
    line(QStringLiteral("strokes in %1 s, counted from %2").arg(record.timeLimitMs / 1000).arg(
             record.startOnGo ? QStringLiteral("go") : QStringLiteral("the first stroke")),
         10);
    if (record.flagged())
        line(QStringLiteral("FLAGGED: %1 dropout(s) in the input, %2 audit block(s) lost")
                 .arg(record.dropouts)
                 .arg(record.lostBlocks),
             10, true);
    y += 10;
    const double seconds = record.timeLimitMs > 0 ? record.timeLimitMs / 1000.0 : 60.0;
    drawSpeedCurve(p, QRectF(50, y, 930, 230), analysis.speed, seconds);
    y += 260;

    // Figures on the left, the measurement on the right.
    const double columnTop = y;
    p.setFont(base);
    const double rowH = QFontMetricsF(base, &device).height() / scale * 1.35;
    for (const FigureRow& row : figureRows(analysis.figures)) {
        p.drawText(QRectF(0, y, 300, rowH), Qt::AlignLeft | Qt::AlignVCenter, QString::fromLatin1(row.name));
        p.drawText(QRectF(300, y, 150, rowH), Qt::AlignRight | Qt::AlignVCenter, figureText(row));
        y += rowH;
    }
    const double leftEnd = y;
    y = columnTop;
    const QList<QPair<QString, QString>> facts{
        {QStringLiteral("device"), record.device},
        {QStringLiteral("detector"), detectorName(record.detector)},
        {QStringLiteral("settings"), record.countingSettings.isEmpty() ? QStringLiteral("–") : record.countingSettings},
        {QStringLiteral("recording time"), QStringLiteral("%1 s").arg(record.timeLimitMs / 1000)},
        {QStringLiteral("start"), record.startOnGo ? QStringLiteral("on go") : QStringLiteral("at the first stroke")},
        {QStringLiteral("audit recording"), record.recording},
        {QStringLiteral("program"), QStringLiteral("Tempovaro %1").arg(record.version)},
    };
    for (const auto& [name, value] : facts) {
        p.drawText(QRectF(520, y, 150, rowH), Qt::AlignLeft | Qt::AlignTop, name);
        p.drawText(QRectF(670, y, 330, rowH * 2), Qt::AlignLeft | Qt::TextWordWrap, value);
        y += rowH * (value.size() > 40 ? 2 : 1);
    }
    y = std::max(y, leftEnd) + 20;

    QFont mono(QStringLiteral("DejaVu Sans Mono"));
    mono.setPointSizeF(8.5);
    p.setFont(mono);
    p.drawText(QRectF(0, y, 1000, rowH), Qt::AlignLeft, QStringLiteral("SHA-256 %1").arg(record.digest));
    y += rowH * 1.5;
    p.setFont(base);
    p.drawText(QRectF(0, y, 1000, rowH * 2), Qt::AlignLeft | Qt::TextWordWrap,
               QStringLiteral("Check: tempovaro-count --verify %1 counts the audit recording again and checks the digest.")
                   .arg(record.id));
    const double signY = std::min(height - 60, y + 120);
    p.drawLine(QPointF(0, signY), QPointF(400, signY));
    p.drawLine(QPointF(580, signY), QPointF(1000, signY));
    p.drawText(QRectF(0, signY + 4, 400, rowH), Qt::AlignLeft, QStringLiteral("judge"));
    p.drawText(QRectF(580, signY + 4, 420, rowH), Qt::AlignLeft, QStringLiteral("drummer"));
}

bool saveResultSheetPdf(const QString& path, const AuditRecord& record, const RunAnalysis& analysis, QString& error)
{
    QByteArray bytes;
    {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter pdf(&buffer);
        pdf.setPageSize(QPageSize(QPageSize::A4));
        pdf.setPageMargins(QMarginsF(18, 18, 18, 18), QPageLayout::Millimeter);
        pdf.setResolution(300);
        pdf.setTitle(QStringLiteral("Result: %1").arg(record.drummer));
        pdf.setCreator(QStringLiteral("Tempovaro %1").arg(record.version));
        paintResultSheet(pdf, record, analysis);
    }
    const AtomicWriteResult written = writeFileAtomically(path, bytes);
    if (!written)
        error = written.error;
    return written.ok;
}
