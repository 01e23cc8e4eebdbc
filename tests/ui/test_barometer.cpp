// The level meter drawn offscreen: which rows are lit for a level, and that
// a resize rebuilds both tube pictures at the new size.

#include "QtTestPrograms.h"
#include "ui/common/QX_Barometer.h"
#include "ui/common/QX_Graphics.h"

#include <QtTest>

#include <cmath>
#include <cstring>

namespace {

QImage rendered(TQX_Barometer& meter)
{
    return meter.grab().toImage().convertToFormat(QImage::Format_BGR888);
}

QImage scaledPicture(const char* name, QRect region, QSize size)
{
    QImage out;
    const bool ok = ResampleBitmap(LoadPicture(name), region.x(), region.y(), region.width(), region.height(), out,
                                   size.width(), size.height());
    return ok ? out : QImage();
}

bool sameRow(const QImage& a, int rowA, const QImage& b, int rowB)
{
    return std::memcmp(a.constScanLine(rowA), b.constScanLine(rowB), size_t(a.width()) * 3) == 0;
}

// Number of rows, counted from the bottom, that show the lit picture; every
// other row must show the unlit one.
int litRows(const QImage& shown, const QImage& lit, const QImage& dark)
{
    int count = 0;
    for (int y = 0; y < shown.height(); ++y) {
        if (sameRow(shown, y, lit, y) && !sameRow(shown, y, dark, y))
            ++count;
        else if (!sameRow(shown, y, dark, y))
            return -1;
    }
    for (int y = shown.height() - count; y < shown.height(); ++y)
        if (!sameRow(shown, y, lit, y))
            return -2;
    return count;
}

} // namespace

class TestBarometer : public QObject {
    Q_OBJECT
private slots:
    void litRowsFollowTheLevel_data()
    {
        QTest::addColumn<float>("level");
        QTest::addColumn<int>("rows");
        QTest::newRow("empty") << 0.0f << 0;
        QTest::newRow("full") << 1.0f << 186;
        QTest::newRow("half") << 0.5f << 93;
        QTest::newRow("1/372 rounds to nothing") << float(1.0 / 372) << 0;
        QTest::newRow("just above 1/372") << 0.003f << 1;
        QTest::newRow("over full, not clamped away") << 2.5f << 186;
        QTest::newRow("negative") << -0.4f << 0;
        QTest::newRow("not a number") << std::nanf("") << 0;
    }
    void litRowsFollowTheLevel()
    {
        QFETCH(float, level);
        QFETCH(int, rows);
        TQX_Barometer meter;
        meter.resize(19, 186);
        meter.SetLevel(level);
        if (!std::isnan(level))
            QCOMPARE(meter.GetLevel(), level);
        const QImage lit = scaledPicture(":/BAROMETER", {1, 1, 12, 256}, {19, 186});
        const QImage dark = scaledPicture(":/BARO_OFF", {0, 0, 13, 257}, {19, 186});
        QVERIFY(!lit.isNull() && !dark.isNull());
        const QImage shown = rendered(meter);
        QCOMPARE(shown.size(), QSize(19, 186));
        QCOMPARE(litRows(shown, lit, dark), rows);
    }

    // Halves go to the even row count: 1.5 -> 2 and 2.5 -> 2 on a 4-row meter.
    void halvesRoundToEven()
    {
        TQX_Barometer meter;
        meter.resize(19, 4);
        const QImage lit = scaledPicture(":/BAROMETER", {1, 1, 12, 256}, {19, 4});
        const QImage dark = scaledPicture(":/BARO_OFF", {0, 0, 13, 257}, {19, 4});
        for (float level : {0.375f, 0.625f}) {
            meter.SetLevel(level);
            QCOMPARE(litRows(rendered(meter), lit, dark), 2);
        }
        meter.SetLevel(0.125f);   // 0.5 -> 0
        QCOMPARE(litRows(rendered(meter), lit, dark), 0);
    }

    void resizeRebuildsBothPictures()
    {
        TQX_Barometer meter;
        meter.resize(19, 186);
        meter.SetLevel(0.5f);
        (void)rendered(meter);
        meter.resize(40, 300);
        const QImage shown = rendered(meter);
        QCOMPARE(shown.size(), QSize(40, 300));
        const QImage lit = scaledPicture(":/BAROMETER", {1, 1, 12, 256}, {40, 300});
        const QImage dark = scaledPicture(":/BARO_OFF", {0, 0, 13, 257}, {40, 300});
        QCOMPARE(litRows(shown, lit, dark), 150);
        // The tube really is lit blue below and dark slate above.
        QVERIFY(shown.pixelColor(20, 290).blue() > 180);
        QVERIFY(shown.pixelColor(20, 10).blue() < 110);
    }
};

TEMPOVARO_QTEST(TestBarometer)
#include "test_barometer.moc"
