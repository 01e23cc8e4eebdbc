#include "ui/common/QX_Graphics.h"

#include <gtest/gtest.h>

#include <QImage>

#include <cmath>
#include <cstring>
#include <random>

using namespace qx_graphics_detail;

namespace {

QImage randomImage(int w, int h, QImage::Format format, unsigned seed)
{
    QImage img(w, h, format);
    std::mt19937 rng(seed);
    const int bytes = format == QImage::Format_BGR888 ? 3 : 4;
    for (int y = 0; y < h; ++y) {
        uchar* row = img.scanLine(y);
        for (int i = 0; i < w * bytes; ++i)
            row[i] = uchar(rng());
    }
    return img;
}

QImage filled(int w, int h, uchar value)
{
    QImage img(w, h, QImage::Format_BGR888);
    for (int y = 0; y < h; ++y)
        std::memset(img.scanLine(y), value, size_t(w) * 3);
    return img;
}

// The resampler written out pixel by pixel, without any of the shortcuts of
// the real one, to prove that those shortcuts leave every byte as it was.
QImage referenceResample(const QImage& src, int left, int top, int sw, int sh, int dw, int dh)
{
    const KernelTable k = BuildKernelTable();
    const int bpp = src.format() == QImage::Format_BGR888 ? 3 : 4;
    const float xs = float(double(dw) / sw);
    const float ys = float(double(dh) / sh);
    QImage out(dw, dh, QImage::Format_BGR888);
    for (int r = 0; r < dh; ++r) {
        const float sy = float(r / double(ys) + top);
        const int iy = int(std::trunc(sy));
        const float fy = float(iy - double(sy));
        const bool rowIn = iy >= 1 && iy <= src.height() - 3;
        for (int c = 0; c < dw; ++c) {
            const float sx = float(c / double(xs) + left);
            const int ix = int(std::trunc(sx));
            const float fx = float(ix - double(sx));
            uchar* d = out.scanLine(r) + c * 3;
            if (rowIn && ix >= 1 && ix <= src.width() - 3) {
                for (int b = 0; b < 3; ++b) {
                    std::int32_t acc = 0;
                    for (int kk = 0; kk < 4; ++kk) {
                        const uchar* row = src.constScanLine(iy - 1 + kk);
                        std::int32_t h = 0;
                        for (int j = 0; j < 4; ++j)
                            h += k[KernelIndex(float(j + double(fx) - 1))] * row[(ix - 1 + j) * bpp + b];
                        if (h > 0)
                            acc += k[KernelIndex(float(kk + double(fy) - 1))] * h;
                    }
                    acc /= 1048576;
                    d[b] = uchar(std::clamp(acc, 0, 255));
                }
            } else {
                const int jx = std::max(0, std::min(int(std::nearbyint(sx)), src.width() - 1));
                const int jy = std::max(0, std::min(int(std::nearbyint(sy)), src.height() - 1));
                std::memcpy(d, src.constScanLine(jy) + jx * bpp, 3);
            }
        }
    }
    return out;
}

bool sameBytes(const QImage& a, const QImage& b)
{
    if (a.size() != b.size() || a.format() != b.format())
        return false;
    for (int y = 0; y < a.height(); ++y)
        if (std::memcmp(a.constScanLine(y), b.constScanLine(y), size_t(a.width()) * 3) != 0)
            return false;
    return true;
}

QColor at(const QImage& img, int x, int y)
{
    return img.pixelColor(x, y);
}

} // namespace

TEST(Kernel, TableHasTheCubicShape)
{
    const KernelTable k = BuildKernelTable();
    const std::pair<int, int> rows[] = {{0, 1024},   {256, 900},   {511, 609},  {767, 269}, {1023, 0},
                                        {1279, -108}, {1535, -96}, {1791, -36}, {2047, 0}};
    for (auto [i, v] : rows)
        EXPECT_EQ(k[i], v) << "index " << i;
    const auto minIt = std::min_element(k.begin(), k.end());
    EXPECT_EQ(*minIt, -114);
    EXPECT_EQ(minIt - k.begin(), 1346);
}

TEST(Kernel, TapWeightsAreNotNormalised)
{
    const KernelTable k = BuildKernelTable();
    auto taps = [&](float f) {
        std::array<int, 4> w{};
        for (int j = 0; j < 4; ++j)
            w[j] = k[KernelIndex(float(j + double(f) - 1))];
        return w;
    };
    EXPECT_EQ(taps(0.0f), (std::array<int, 4>{0, 1024, 0, 0}));
    EXPECT_EQ(taps(-0.5f), (std::array<int, 4>{-96, 609, 609, -96}));
}

TEST(Resample, OwnSizeKeepsEveryPixel)
{
    for (auto format : {QImage::Format_BGR888, QImage::Format_RGB32}) {
        const QImage src = randomImage(17, 11, format, 7);
        QImage dst;
        ASSERT_TRUE(ResampleBitmap(src, 0, 0, 17, 11, dst, 17, 11));
        ASSERT_EQ(dst.format(), QImage::Format_BGR888);
        EXPECT_TRUE(sameBytes(dst, src.convertToFormat(QImage::Format_BGR888)));
    }
}

TEST(Resample, FlatAreasStayFlat)
{
    // 255 overshoots to 256 through the unnormalised weights and is clamped;
    // 200 halfway between pixels gives 1026^2 * 200 / 2^20, truncated to 200.
    for (uchar value : {uchar(255), uchar(200), uchar(0)}) {
        const QImage src = filled(8, 8, value);
        QImage dst;
        ASSERT_TRUE(ResampleBitmap(src, 0, 0, 8, 8, dst, 16, 16));
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                ASSERT_EQ(at(dst, x, y), QColor(value, value, value)) << x << "," << y;
    }
    // Halfway on both axes: source position 1.5 at destination 3.
    const QImage src = filled(8, 8, 200);
    QImage dst;
    ASSERT_TRUE(ResampleBitmap(src, 0, 0, 8, 8, dst, 16, 16));
    EXPECT_EQ(at(dst, 3, 3), QColor(200, 200, 200));
}

TEST(Resample, RefusesBadInputAndLeavesDestAlone)
{
    const QImage good = randomImage(10, 10, QImage::Format_BGR888, 1);
    const QImage before = randomImage(5, 4, QImage::Format_BGR888, 2);
    struct Case {
        QImage src;
        int sw, sh, dw, dh;
    };
    const Case cases[] = {
        {good, 10, 10, 0, 10},
        {good, 10, 10, 10, 0},
        {good, 0, 10, 10, 10},
        {good, 10, -1, 10, 10},
        {QImage(), 10, 10, 10, 10},
        {good.convertToFormat(QImage::Format_RGB16), 10, 10, 20, 20},
        {good.convertToFormat(QImage::Format_RGB888), 10, 10, 20, 20},
        {good.convertToFormat(QImage::Format_Grayscale8), 10, 10, 20, 20},
    };
    for (const Case& c : cases) {
        QImage dst = before;
        EXPECT_FALSE(ResampleBitmap(c.src, 0, 0, c.sw, c.sh, dst, c.dw, c.dh));
        EXPECT_TRUE(sameBytes(dst, before));
    }
}

TEST(Resample, ThirtyTwoBitSourceIgnoresFourthByte)
{
    QImage src = randomImage(23, 19, QImage::Format_ARGB32, 3);
    QImage packed(23, 19, QImage::Format_BGR888);
    for (int y = 0; y < 19; ++y)
        for (int x = 0; x < 23; ++x)
            std::memcpy(packed.scanLine(y) + x * 3, src.constScanLine(y) + x * 4, 3);
    QImage a, b;
    ASSERT_TRUE(ResampleBitmap(src, 0, 0, 23, 19, a, 50, 31));
    ASSERT_TRUE(ResampleBitmap(packed, 0, 0, 23, 19, b, 50, 31));
    EXPECT_EQ(a.format(), QImage::Format_BGR888);
    EXPECT_TRUE(sameBytes(a, b));
    // Changing only the fourth bytes changes nothing.
    for (int y = 0; y < 19; ++y)
        for (int x = 0; x < 23; ++x)
            src.scanLine(y)[x * 4 + 3] ^= 0x5a;
    ASSERT_TRUE(ResampleBitmap(src, 0, 0, 23, 19, a, 50, 31));
    EXPECT_TRUE(sameBytes(a, b));
}

TEST(Resample, MatchesThePlainLoopOnRandomPictures)
{
    struct Case {
        int w, h, left, top, sw, sh, dw, dh;
        QImage::Format format;
    };
    const Case cases[] = {
        {312, 229, 0, 0, 312, 229, 800, 546, QImage::Format_BGR888},
        {312, 229, 0, 0, 312, 229, 97, 61, QImage::Format_BGR888},    // shrinking
        {13, 257, 1, 1, 12, 256, 19, 186, QImage::Format_BGR888},     // the level meter's region
        {13, 257, 0, 0, 13, 257, 19, 186, QImage::Format_RGB32},
        {40, 30, 5, 3, 20, 10, 73, 77, QImage::Format_BGR888},        // sub-rectangle
        {40, 30, -6, -4, 60, 50, 33, 29, QImage::Format_ARGB32},      // rectangle beyond the picture
        {4, 4, 0, 0, 4, 4, 9, 9, QImage::Format_BGR888},              // too small to interpolate at all
        {1, 1, 0, 0, 1, 1, 3, 2, QImage::Format_BGR888},
        {64, 48, 0, 0, 64, 48, 1, 1, QImage::Format_BGR888},
    };
    unsigned seed = 11;
    for (const Case& c : cases) {
        const QImage src = randomImage(c.w, c.h, c.format, seed++);
        QImage dst;
        ASSERT_TRUE(ResampleBitmap(src, c.left, c.top, c.sw, c.sh, dst, c.dw, c.dh));
        EXPECT_TRUE(sameBytes(dst, referenceResample(src, c.left, c.top, c.sw, c.sh, c.dw, c.dh)))
            << c.w << "x" << c.h << " -> " << c.dw << "x" << c.dh;
    }
}

TEST(Resample, SourceMayBeTheDestination)
{
    QImage img = randomImage(30, 20, QImage::Format_BGR888, 5);
    const QImage expected = referenceResample(img, 0, 0, 30, 20, 45, 50);
    ASSERT_TRUE(ResampleBitmap(img, 0, 0, 30, 20, img, 45, 50));
    EXPECT_TRUE(sameBytes(img, expected));
}

TEST(SmoothLine, AxisLinesUseThePenAndStopBeforeTheEnd)
{
    const QColor red(255, 0, 0);
    struct Case {
        int x1, y1, x2, y2;
    };
    for (const Case& c : {Case{10, 10, 20, 10}, Case{20, 10, 10, 10}, Case{10, 10, 10, 20}, Case{10, 20, 10, 10}}) {
        QImage img = filled(30, 30, 255);
        DrawSmoothLine(img, 0x0000FF, float(c.x1), float(c.y1), float(c.x2), float(c.y2));
        const int sx = c.x2 > c.x1 ? 1 : (c.x2 < c.x1 ? -1 : 0);
        const int sy = c.y2 > c.y1 ? 1 : (c.y2 < c.y1 ? -1 : 0);
        int drawn = 0;
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 30; ++x)
                drawn += at(img, x, y) != QColor(255, 255, 255);
        EXPECT_EQ(drawn, 10);
        for (int i = 0; i < 10; ++i)
            EXPECT_EQ(at(img, c.x1 + i * sx, c.y1 + i * sy), red);
        EXPECT_EQ(at(img, c.x2, c.y2), QColor(255, 255, 255));
    }
    // A single point (after rounding) draws nothing.
    QImage img = filled(5, 5, 255);
    DrawSmoothLine(img, 0, 2.4f, 2.0f, 1.6f, 2.2f);
    EXPECT_TRUE(sameBytes(img, filled(5, 5, 255)));
}

TEST(SmoothLine, ShallowLineBlendsTwoPixelsPerColumn)
{
    QImage img = filled(12, 6, 255);
    DrawSmoothLine(img, 0x000000, 0.f, 0.f, 10.f, 3.f);
    for (int x = 0; x <= 10; ++x) {
        const int row = int(0.3 * x + 1e-4);
        int ink = 0;
        for (int y = 0; y < 6; ++y) {
            const int v = at(img, x, y).red();
            if (y != row && y != row + 1) {
                EXPECT_EQ(v, 255) << x << "," << y;
            }
            ink += 255 - v;
        }
        // The two weights of a column add up to one full pixel of ink.
        EXPECT_NEAR(ink, 255, 1) << "column " << x;
    }
    EXPECT_EQ(at(img, 0, 0), QColor(0, 0, 0));
    EXPECT_EQ(at(img, 10, 3), QColor(0, 0, 0));
    EXPECT_EQ(at(img, 11, 3), QColor(255, 255, 255));
    // Halfway columns split evenly: y = 1.5 at x = 5 (0.3 * 5 in float steps).
    EXPECT_NEAR(at(img, 5, 1).red(), 128, 1);
}

TEST(SmoothLine, DirectionAndAxisDoNotChangeThePixels)
{
    QImage forward = filled(16, 16, 255), backward = filled(16, 16, 255), steep = filled(16, 16, 255);
    DrawSmoothLine(forward, 0x204080, 1.f, 2.f, 14.f, 7.f);
    DrawSmoothLine(backward, 0x204080, 14.f, 7.f, 1.f, 2.f);
    DrawSmoothLine(steep, 0x204080, 2.f, 1.f, 7.f, 14.f);
    EXPECT_TRUE(sameBytes(forward, backward));
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            ASSERT_EQ(at(forward, x, y), at(steep, y, x)) << x << "," << y;
    EXPECT_EQ(at(forward, 1, 2), QColor(0x80, 0x40, 0x20));

    // Rising lines walk toward the other row too.
    QImage rising = filled(16, 16, 255);
    DrawSmoothLine(rising, 0, 1.f, 12.f, 11.f, 9.f);
    EXPECT_EQ(at(rising, 1, 12), QColor(0, 0, 0));
    EXPECT_EQ(at(rising, 11, 9), QColor(0, 0, 0));
    EXPECT_EQ(at(rising, 6, 13), QColor(255, 255, 255));
}

TEST(SmoothLine, ClipsAtTheEdgesAndRefusesNonsense)
{
    QImage img = filled(8, 8, 255);
    DrawSmoothLine(img, 0, -20.f, -3.f, 30.f, 12.f);
    DrawSmoothLine(img, 0, NAN, 0.f, 3.f, 3.f);
    DrawSmoothLine(img, 0, 0.f, 0.f, 3e30f, 1.f);
    int touched = 0;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            touched += at(img, x, y) != QColor(255, 255, 255);
    EXPECT_GT(touched, 0);
    EXPECT_LE(touched, 16);
}

TEST(Blend, WeightsAndEdges)
{
    QImage img = filled(4, 3, 100);
    BlendPixel(img, 1, 1, 10, 20, 30, 1.0);
    EXPECT_EQ(at(img, 1, 1), QColor(10, 20, 30));
    BlendPixel(img, 2, 1, 10, 20, 30, 0.0);
    EXPECT_EQ(at(img, 2, 1), QColor(100, 100, 100));
    // 100 * 0.5 + 1 * 0.5 = 50.5 goes to the even 50; 100 * 0.5 + 3 * 0.5 = 51.5 to 52.
    BlendPixel(img, 0, 0, 1, 3, 0, 0.5);
    EXPECT_EQ(at(img, 0, 0), QColor(50, 52, 50));
    // Weights beyond 0..1 stay within the byte range.
    BlendPixel(img, 3, 2, 255, 0, 255, 1.3);
    EXPECT_EQ(at(img, 3, 2), QColor(255, 0, 255));

    const QImage before = img;
    for (auto [x, y] : {std::pair{-1, 0}, {4, 0}, {0, -1}, {0, 3}})
        BlendPixel(img, x, y, 0, 0, 0, 1.0);
    EXPECT_TRUE(sameBytes(img, before));

    QImage wide(3, 1, QImage::Format_RGB32);
    wide.fill(QColor(9, 9, 9));
    BlendPixel(wide, 2, 0, 200, 100, 50, 1.0);
    EXPECT_EQ(wide.pixelColor(2, 0), QColor(200, 100, 50));
    EXPECT_EQ(wide.pixelColor(1, 0), QColor(9, 9, 9));
}

TEST(Dib, DecodesBottomUpPaddedRows)
{
    // 3 x 2 pixels: rows of 9 bytes padded to 12, bottom row first.
    QByteArray bytes(40 + 24 + 2, '\0');
    auto put32 = [&](int at, qint32 v) {
        for (int i = 0; i < 4; ++i)
            bytes[at + i] = char((v >> (8 * i)) & 255);
    };
    put32(0, 40);
    put32(4, 3);
    put32(8, 2);
    bytes[12] = 1;
    bytes[14] = 24;
    for (int i = 0; i < 9; ++i) {
        bytes[40 + i] = char(10 + i);      // bottom row
        bytes[52 + i] = char(100 + i);     // top row
    }
    bytes[49] = char(0xEE);                // padding must be skipped
    QImage img = DecodeDib(bytes);
    ASSERT_EQ(img.size(), QSize(3, 2));
    ASSERT_EQ(img.format(), QImage::Format_BGR888);
    EXPECT_EQ(at(img, 0, 0), QColor(102, 101, 100));
    EXPECT_EQ(at(img, 2, 1), QColor(18, 17, 16));

    put32(8, -2);                          // top-down
    img = DecodeDib(bytes);
    ASSERT_FALSE(img.isNull());
    EXPECT_EQ(at(img, 0, 0), QColor(12, 11, 10));

    put32(8, 2);
    EXPECT_TRUE(DecodeDib(bytes.left(60)).isNull());    // truncated rows
    QByteArray eightBit = bytes;
    eightBit[14] = 8;
    EXPECT_TRUE(DecodeDib(eightBit).isNull());
    QByteArray huge = bytes;
    for (int i = 4; i < 8; ++i)
        huge[i] = char(0x7f);
    EXPECT_TRUE(DecodeDib(huge).isNull());
    EXPECT_TRUE(LoadPicture("NO_SUCH_PICTURE").isNull());
}
