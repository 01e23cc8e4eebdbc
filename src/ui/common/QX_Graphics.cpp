#include "ui/common/QX_Graphics.h"

#include <QFile>
#include <QPainter>
#include <QPen>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

namespace qx_graphics_detail {

KernelTable BuildKernelTable()
{
    KernelTable table{};
    for (int i = 0; i < 2048; ++i) {
        const float t = static_cast<float>(i * 2 / 2047.0);
        const double td = t;
        const double w = td < 1.0 ? (1.25 * td - 2.25) * td * td + 1.0
                                   : ((-0.75 * td + 3.75) * td - 6.0) * td + 3.0;
        table[i] = static_cast<std::int32_t>(std::nearbyint(w * 1024.0));
    }
    return table;
}

int KernelIndex(float Distance)
{
    // Distances never exceed 2 on the interpolating path; the clamp only
    // guards the table against a caller that passes more.
    const double scaled = std::fabs(static_cast<double>(Distance)) * 1023.5;
    return scaled >= 2047.0 ? 2047 : static_cast<int>(scaled);
}

namespace {

quint32 readLe32(const uchar* p)
{
    return quint32(p[0]) | (quint32(p[1]) << 8) | (quint32(p[2]) << 16) | (quint32(p[3]) << 24);
}

quint16 readLe16(const uchar* p)
{
    return quint16(p[0] | (p[1] << 8));
}

} // namespace

QImage DecodeDib(const QByteArray& Bytes)
{
    constexpr qint64 kHeaderBytes = 40;
    // Far beyond any picture of ours; keeps the size arithmetic small.
    constexpr qint64 kMaxSide = 1 << 15;
    if (Bytes.size() < kHeaderBytes)
        return {};
    const auto* p = reinterpret_cast<const uchar*>(Bytes.constData());
    const qint64 width = qint32(readLe32(p + 4));
    const qint64 rawHeight = qint32(readLe32(p + 8));
    const quint32 colorsUsed = readLe32(p + 32);
    if (readLe32(p) != kHeaderBytes || readLe16(p + 12) != 1 || readLe16(p + 14) != 24
        || readLe32(p + 16) != 0 || colorsUsed > 256)
        return {};
    const bool bottomUp = rawHeight > 0;
    const qint64 height = bottomUp ? rawHeight : -rawHeight;
    if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide)
        return {};
    const qint64 stride = (width * 3 + 3) / 4 * 4;
    const qint64 pixelStart = kHeaderBytes + qint64(colorsUsed) * 4;
    if (pixelStart + stride * height > Bytes.size())
        return {};

    QImage image(int(width), int(height), QImage::Format_BGR888);
    if (image.isNull())
        return {};
    for (qint64 y = 0; y < height; ++y) {
        const qint64 fileRow = bottomUp ? height - 1 - y : y;
        std::memcpy(image.scanLine(int(y)), p + pixelStart + fileRow * stride, size_t(width * 3));
    }
    return image;
}

} // namespace qx_graphics_detail

using namespace qx_graphics_detail;

namespace {

int bytesPerPixel(QImage::Format format)
{
    switch (format) {
    case QImage::Format_BGR888:
        return 3;
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
        return 4;
    default:
        return 0;
    }
}

// Trunc of a 32-bit float, saturated to the int range so that a far-away
// source rectangle ends on the nearest-pixel path instead of overflowing.
int truncSaturated(float v)
{
    if (!(v > -2147483648.0f))
        return std::numeric_limits<int>::min();
    if (v >= 2147483648.0f)
        return std::numeric_limits<int>::max();
    return static_cast<int>(v);
}

// Round half to even, then limited to 0..last.
int roundClamped(float v, int last)
{
    const float r = std::nearbyint(v);
    if (!(r > 0.0f))
        return 0;
    if (r >= static_cast<float>(last))
        return last;
    return static_cast<int>(r);
}

struct Axis {
    std::vector<int> base;          // first of the four taps, or -1 for the nearest-pixel path
    std::vector<int> nearest;       // the nearest source index
    std::vector<std::int32_t> w;    // four weights per position
};

// Source positions and weights along one axis: position i samples i / scale + offset.
Axis buildAxis(const KernelTable& kernel, int count, float scale, int offset, int sourceSize)
{
    Axis a;
    a.base.resize(size_t(count));
    a.nearest.resize(size_t(count));
    a.w.assign(size_t(count) * 4, 0);
    for (int i = 0; i < count; ++i) {
        const float s = static_cast<float>(i / static_cast<double>(scale) + offset);
        const int is = truncSaturated(s);
        const float f = static_cast<float>(static_cast<double>(is) - s);
        const bool inside = is >= 1 && is <= sourceSize - 3;
        a.base[size_t(i)] = inside ? is : -1;
        a.nearest[size_t(i)] = roundClamped(s, sourceSize - 1);
        if (inside) {
            for (int j = 0; j < 4; ++j) {
                const float d = static_cast<float>(j + static_cast<double>(f) - 1.0);
                a.w[size_t(i) * 4 + size_t(j)] = kernel[size_t(KernelIndex(d))];
            }
        }
    }
    return a;
}

// The horizontal pass of one source row: for every destination column on the
// interpolating path and every byte, the weighted sum of the four taps, with
// sums of zero or below kept as 0 because they never contribute. Columns on
// the nearest-pixel path are not written; they are overwritten later.
template <int Bpp>
void horizontalSums(const uchar* row, const Axis& cols, const std::vector<int>& inner, std::int32_t* out)
{
    for (const int c : inner) {
        std::int32_t* o = out + size_t(c) * 3;
        const std::int32_t* w = &cols.w[size_t(c) * 4];
        const uchar* s = row + (cols.base[size_t(c)] - 1) * Bpp;
        for (int b = 0; b < 3; ++b) {
            const std::int32_t h = w[0] * s[b] + w[1] * s[Bpp + b] + w[2] * s[2 * Bpp + b]
                                 + w[3] * s[3 * Bpp + b];
            o[b] = h > 0 ? h : 0;
        }
    }
}

// The vertical pass is most of the work and vectorises well; on x86-64
// GCC builds it for wider vector units too and picks one when loaded.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
#define QX_VECTOR_LOOP __attribute__((target_clones("avx2", "sse4.1", "default"), optimize("O3")))
#else
#define QX_VECTOR_LOOP
#endif

// The vertical pass over a whole destination row. A shift by 20 floors where
// the division truncates, but both give 0 after the clamp for negative sums.
QX_VECTOR_LOOP void verticalSums(const std::int32_t* const h[4], const std::int32_t w[4], size_t n, uchar* out)
{
    const std::int32_t w0 = w[0], w1 = w[1], w2 = w[2], w3 = w[3];
    const std::int32_t *h0 = h[0], *h1 = h[1], *h2 = h[2], *h3 = h[3];
    for (size_t i = 0; i < n; ++i) {
        std::int32_t v = (w0 * h0[i] + w1 * h1[i] + w2 * h2[i] + w3 * h3[i]) >> 20;
        v = v < 0 ? 0 : v;
        v = v > 255 ? 255 : v;
        out[i] = static_cast<uchar>(v);
    }
}

} // namespace

bool ResampleBitmap(const QImage& Source, int SrcLeft, int SrcTop, int SrcWidth, int SrcHeight,
                    QImage& Dest, int DestWidth, int DestHeight)
{
    if (Source.width() < 1 || Source.height() < 1 || DestWidth < 1 || DestHeight < 1 || SrcWidth < 1
        || SrcHeight < 1)
        return false;
    const int bpp = bytesPerPixel(Source.format());
    if (bpp == 0)
        return false;

    QImage out(DestWidth, DestHeight, QImage::Format_BGR888);
    if (out.isNull())
        return false;

    const float xs = static_cast<float>(static_cast<double>(DestWidth) / SrcWidth);
    const float ys = static_cast<float>(static_cast<double>(DestHeight) / SrcHeight);
    const KernelTable kernel = BuildKernelTable();
    const Axis cols = buildAxis(kernel, DestWidth, xs, SrcLeft, Source.width());
    const Axis rows = buildAxis(kernel, DestHeight, ys, SrcTop, Source.height());

    std::vector<int> inner, outer;
    for (int c = 0; c < DestWidth; ++c)
        (cols.base[size_t(c)] >= 0 ? inner : outer).push_back(c);

    // Source rows move forward with the destination row, so the horizontal
    // sums of the last four source rows are kept and reused.
    const size_t rowInts = size_t(DestWidth) * 3;
    std::vector<std::int32_t> cache(rowInts * 4);
    int cachedRow[4] = {-1, -1, -1, -1};
    auto sumsOf = [&](int y) -> const std::int32_t* {
        const int slot = y & 3;
        std::int32_t* sums = cache.data() + size_t(slot) * rowInts;
        if (cachedRow[slot] != y) {
            if (bpp == 3)
                horizontalSums<3>(Source.constScanLine(y), cols, inner, sums);
            else
                horizontalSums<4>(Source.constScanLine(y), cols, inner, sums);
            cachedRow[slot] = y;
        }
        return sums;
    };

    auto copyNearest = [&](uchar* dst, const uchar* nearestRow, int c) {
        const uchar* s = nearestRow + cols.nearest[size_t(c)] * bpp;
        dst[c * 3] = s[0];
        dst[c * 3 + 1] = s[1];
        dst[c * 3 + 2] = s[2];
    };
    for (int r = 0; r < DestHeight; ++r) {
        uchar* dst = out.scanLine(r);
        const uchar* nearestRow = Source.constScanLine(rows.nearest[size_t(r)]);
        const int iy = rows.base[size_t(r)];
        if (iy >= 0) {
            const std::int32_t* h[4];
            for (int k = 0; k < 4; ++k)
                h[k] = sumsOf(iy - 1 + k);
            verticalSums(h, &rows.w[size_t(r) * 4], rowInts, dst);
            for (const int c : outer)
                copyNearest(dst, nearestRow, c);
        } else {
            for (int c = 0; c < DestWidth; ++c)
                copyNearest(dst, nearestRow, c);
        }
    }
    Dest = std::move(out);
    return true;
}

namespace {

// Endpoints are rounded half to even; anything that is not a number or lies
// absurdly far outside any picture is refused so the walk below stays finite
// and the integer arithmetic cannot overflow.
bool roundEndpoint(float v, int& out)
{
    constexpr float kLimit = 1 << 28;
    if (!(std::fabs(v) <= kLimit))
        return false;
    out = static_cast<int>(std::nearbyint(v));
    return true;
}

} // namespace

void DrawSmoothLine(QImage& Bitmap, quint32 Color, float X1, float Y1, float X2, float Y2)
{
    if (Bitmap.isNull())
        return;
    int x1, y1, x2, y2;
    if (!roundEndpoint(X1, x1) || !roundEndpoint(Y1, y1) || !roundEndpoint(X2, x2) || !roundEndpoint(Y2, y2))
        return;
    const int dx = std::abs(x2 - x1);
    const int dy = std::abs(y2 - y1);
    const quint8 R = Color & 255;
    const quint8 G = (Color >> 8) & 255;
    const quint8 B = (Color >> 16) & 255;

    if (dx == 0 || dy == 0) {
        // A plain pen line that stops one pixel short of its end point; a
        // single point draws nothing. Qt's cosmetic pen with square caps
        // draws both ends, and with flat caps drops whichever end is lower
        // right, so the line is shortened here and drawn with both ends.
        if (dx == 0 && dy == 0)
            return;
        const int stepX = x2 > x1 ? 1 : (x2 < x1 ? -1 : 0);
        const int stepY = y2 > y1 ? 1 : (y2 < y1 ? -1 : 0);
        QPainter painter(&Bitmap);
        painter.setRenderHint(QPainter::Antialiasing, false);
        QPen pen(QColor(R, G, B));
        pen.setWidth(0);
        pen.setCapStyle(Qt::SquareCap);
        painter.setPen(pen);
        painter.drawLine(QPoint(x1, y1), QPoint(x2 - stepX, y2 - stepY));
        return;
    }

    if (dy < dx) {
        float m = static_cast<float>(static_cast<double>(dy) / dx);
        if (y2 > y1)
            m = -m;
        int xFrom, xTo;
        float y;
        if (x1 > x2) {
            xFrom = x2;
            xTo = x1;
            y = static_cast<float>(y2);
        } else {
            xFrom = x1;
            xTo = x2;
            y = static_cast<float>(y1);
            m = -m;
        }
        const int lastColumn = std::min(xTo, Bitmap.width() - 1);
        for (int x = xFrom; x <= lastColumn; ++x) {
            const float whole = std::trunc(y);
            const float frac = y - whole;
            const int row = static_cast<int>(whole);
            BlendPixel(Bitmap, x, row, R, G, B, 1.0 - frac);
            BlendPixel(Bitmap, x, row + 1, R, G, B, frac);
            y = y + m;
        }
    } else {
        float m = static_cast<float>(static_cast<double>(dx) / dy);
        if (x1 < x2)
            m = -m;
        int yFrom, yTo;
        float x;
        if (y2 < y1) {
            yFrom = y2;
            yTo = y1;
            x = static_cast<float>(x2);
        } else {
            yFrom = y1;
            yTo = y2;
            x = static_cast<float>(x1);
            m = -m;
        }
        const int lastRow = std::min(yTo, Bitmap.height() - 1);
        for (int y = yFrom; y <= lastRow; ++y) {
            const float whole = std::trunc(x);
            const float frac = x - whole;
            const int column = static_cast<int>(whole);
            BlendPixel(Bitmap, column, y, R, G, B, 1.0 - frac);
            BlendPixel(Bitmap, column + 1, y, R, G, B, frac);
            x = x + m;
        }
    }
}

void BlendPixel(QImage& Bitmap, int X, int Y, quint8 R, quint8 G, quint8 B, double Alpha)
{
    if (X < 0 || X > Bitmap.width() - 1 || Y < 0 || Y > Bitmap.height() - 1)
        return;
    const int bpp = bytesPerPixel(Bitmap.format());
    if (bpp == 0)
        return;
    uchar* p = Bitmap.scanLine(Y) + X * bpp;
    const double inv = 1.0 - Alpha;
    // A weight outside 0..1 (a line passing just above row 0) would push the
    // mix out of the byte range; it is held at the nearest byte value.
    auto mix = [&](quint8 colour, uchar old) {
        const double v = std::nearbyint(colour * Alpha + old * inv);
        if (!(v > 0.0))
            return uchar(0);
        return v >= 255.0 ? uchar(255) : static_cast<uchar>(v);
    };
    const uchar b = mix(B, p[0]);
    const uchar g = mix(G, p[1]);
    const uchar r = mix(R, p[2]);
    p[0] = b;
    p[1] = g;
    p[2] = r;
}

QImage LoadPicture(const QString& resourceName)
{
    const QString path = resourceName.startsWith(QLatin1Char(':')) ? resourceName
                                                                    : QStringLiteral(":/") + resourceName;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    // The two tube pictures are bare device-independent bitmaps, recognised
    // by their 40-byte header size; everything else is a PNG.
    if (bytes.size() >= 4 && bytes.startsWith(QByteArray("\x28\0\0\0", 4)))
        return DecodeDib(bytes);
    QImage image;
    if (!image.loadFromData(bytes))
        return {};
    return image.convertToFormat(QImage::Format_BGR888);
}
