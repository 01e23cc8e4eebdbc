// The built-in pictures: linked into the program, in the shapes the windows
// rely on, and still exactly what tools/make-artwork writes.

#include "FileBytes.h"
#include "QtTempFolder.h"
#include "ui/common/QX_Graphics.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>

#include <cstring>

namespace {

const char* const kFiles[] = {"background.png",          "stopwatch.png",          "icon.png",
                              "about.png",               "barometer.dib",          "baro_off.dib",
                              "icons/tempovaro-16.png",  "icons/tempovaro-24.png", "icons/tempovaro-32.png",
                              "icons/tempovaro-48.png",  "icons/tempovaro-64.png", "icons/tempovaro-128.png",
                              "icons/tempovaro-256.png", "icons/tempovaro.svg",   "device_icon.png"};

quint32 le32(const QByteArray& b, int at)
{
    quint32 v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | uchar(b[at + i]);
    return v;
}

bool isBackdrop(const QImage& img, int x, int y)
{
    const uchar* p = img.constScanLine(y) + x * 3;
    return p[0] == 193 && p[1] == 0 && p[2] == 23;
}

} // namespace

TEST(Artwork, GeneratorWritesTheCommittedFiles)
{
    QtTempFolder dir;
    ASSERT_TRUE(dir.isValid());
    QProcess tool;
    tool.start(QStringLiteral(MAKE_ARTWORK_PATH), {dir.path()});
    ASSERT_TRUE(tool.waitForFinished(120000));
    ASSERT_EQ(tool.exitStatus(), QProcess::NormalExit);
    ASSERT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().constData();
    for (const char* name : kFiles) {
        const QByteArray made = fileBytes(dir.filePath(name));
        const QByteArray committed = fileBytes(QStringLiteral(RESOURCES_DIR "/") + name);
        ASSERT_FALSE(made.isEmpty()) << name;
        EXPECT_TRUE(made == committed) << name << " differs from the generator's output; run make-artwork resources/";
    }
}

TEST(Artwork, TubePicturesAreBareDibs)
{
    for (const char* alias : {":/BAROMETER", ":/BARO_OFF"}) {
        const QByteArray b = fileBytes(alias);
        ASSERT_EQ(b.size(), 10322) << alias;
        EXPECT_EQ(le32(b, 0), 40u);
        EXPECT_EQ(le32(b, 4), 13u);
        EXPECT_EQ(le32(b, 8), 257u);
        EXPECT_EQ(le32(b, 12) & 0xffff, 1u);
        EXPECT_EQ(le32(b, 12) >> 16, 24u);
        EXPECT_EQ(le32(b, 16), 0u);
        EXPECT_EQ(b.right(2), QByteArray(2, '\0'));
        // Row padding: 13 pixels take 39 bytes, the 40th of every row is 0.
        for (int row = 0; row < 257; ++row)
            ASSERT_EQ(b[40 + row * 40 + 39], '\0') << alias << " row " << row;
    }
    // The lit tube is blue and bright, the unlit one dark slate; both are
    // darker at the glass edge than in the highlight columns.
    const QImage lit = LoadPicture("BAROMETER");
    const QImage dark = LoadPicture(":/BARO_OFF");
    ASSERT_EQ(lit.size(), QSize(13, 257));
    ASSERT_EQ(dark.size(), QSize(13, 257));
    EXPECT_EQ(lit.pixelColor(7, 256), QColor(86, 133, 206));
    EXPECT_EQ(lit.pixelColor(7, 0), QColor(131, 165, 219));
    EXPECT_EQ(dark.pixelColor(7, 256), QColor(17, 36, 43));
    EXPECT_EQ(dark.pixelColor(4, 0), QColor(86, 98, 102));
    for (int y = 0; y < 257; y += 16) {
        EXPECT_GT(lit.pixelColor(4, y).lightness(), lit.pixelColor(0, y).lightness());
        EXPECT_GT(lit.pixelColor(7, y).blue(), dark.pixelColor(7, y).blue() + 100);
    }
}

TEST(Artwork, PicturesHaveTheirSizes)
{
    const std::pair<const char*, QSize> pictures[] = {{"BACKGROUND", {312, 229}}, {"STOPWATCH", {430, 577}},
                                                      {"ICON", {32, 32}},         {"ABOUT", {200, 140}}};
    for (const auto& [name, size] : pictures) {
        const QImage img = LoadPicture(name);
        EXPECT_EQ(img.size(), size) << name;
        EXPECT_EQ(img.format(), QImage::Format_BGR888) << name;
    }
}

TEST(Artwork, StopwatchSitsCleanlyOnItsBackdrop)
{
    const QImage w = LoadPicture("STOPWATCH");
    ASSERT_EQ(w.size(), QSize(430, 577));
    // The main window takes the bottom-left pixel as the transparent colour.
    EXPECT_TRUE(isBackdrop(w, 0, 576));
    EXPECT_TRUE(isBackdrop(w, 0, 0));
    EXPECT_TRUE(isBackdrop(w, 429, 576));
    // Dial centre at 47 % / 60 %: a dark pin, surrounded by a light face
    // whose radius reaches the recording-time mark (28.8 % of the height).
    const int cx = 202, cy = 346;
    EXPECT_LT(w.pixelColor(cx, cy).lightness(), 100);
    for (int r : {20, 60, 100, 166}) {
        EXPECT_GT(w.pixelColor(cx - r, cy + 2).lightness(), 200) << r;
        EXPECT_GT(w.pixelColor(cx + 2, cy + r).lightness(), 200) << r;
    }
    // Left and right of the dial, and above the crown, is backdrop.
    EXPECT_TRUE(isBackdrop(w, 2, cy));
    EXPECT_TRUE(isBackdrop(w, 425, cy));
    EXPECT_TRUE(isBackdrop(w, cx, 2));

    // No blue fringe: every watch pixel next to the backdrop is a neutral
    // grey, nothing mixed with the backdrop's blue.
    int edgePixels = 0;
    for (int y = 1; y < 576; ++y) {
        for (int x = 1; x < 429; ++x) {
            if (isBackdrop(w, x, y))
                continue;
            if (!isBackdrop(w, x - 1, y) && !isBackdrop(w, x + 1, y) && !isBackdrop(w, x, y - 1)
                && !isBackdrop(w, x, y + 1))
                continue;
            ++edgePixels;
            const QColor c = w.pixelColor(x, y);
            ASSERT_LT(std::abs(c.blue() - c.red()), 30) << x << "," << y;
            ASSERT_LT(c.lightness(), 120) << x << "," << y;
        }
    }
    EXPECT_GT(edgePixels, 1000);
}

TEST(Artwork, DeviceIconIs256ColoursOnATransparentGround)
{
    const QImage icon(QStringLiteral(":/DEVICE_ICON"));
    ASSERT_EQ(icon.size(), QSize(32, 32));
    EXPECT_EQ(icon.format(), QImage::Format_Indexed8);
    EXPECT_LE(icon.colorCount(), 256);
    // The plug runs from the lower left to the upper right; the other two
    // corners show the window behind it.
    EXPECT_EQ(qAlpha(icon.pixel(1, 1)), 0);
    EXPECT_EQ(qAlpha(icon.pixel(30, 30)), 0);
    EXPECT_EQ(qAlpha(icon.pixel(16, 16)), 255);
}

// The desktop's icons are the window icon drawn at other sizes: the window
// icon itself at 32 pixels, and at every size a transparent surround, an
// opaque dial centre and the stopwatch's red mark in the same place.
TEST(Artwork, ThemeIconsAreTheWindowIconAtEverySize)
{
    EXPECT_TRUE(fileBytes(RESOURCES_DIR "/icons/tempovaro-32.png") == fileBytes(RESOURCES_DIR "/icon.png"));
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        const QImage icon(QStringLiteral(RESOURCES_DIR "/icons/tempovaro-%1.png").arg(size));
        ASSERT_EQ(icon.size(), QSize(size, size)) << size;
        ASSERT_TRUE(icon.hasAlphaChannel()) << size;
        const double unit = size / 32.0;
        EXPECT_EQ(icon.pixelColor(0, size - 1).alpha(), 0) << size;
        EXPECT_EQ(icon.pixelColor(size - 1, 0).alpha(), 0) << size;
        const QColor face = icon.pixelColor(int(12 * unit), int(22 * unit));
        EXPECT_EQ(face.alpha(), 255) << size;
        EXPECT_GT(face.lightness(), 200) << size;
        const QColor mark = icon.pixelColor(int(16 * unit), int(9.7 * unit));
        EXPECT_GT(mark.red(), mark.green() + 60) << size;
        EXPECT_GT(mark.red(), mark.blue() + 60) << size;
    }
    const QByteArray svg = fileBytes(RESOURCES_DIR "/icons/tempovaro.svg");
    EXPECT_TRUE(svg.contains("viewBox=\"0 0 32 32\"")) << svg.constData();
}
