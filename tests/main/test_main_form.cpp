// The main window driven as the drummer and the timer would: ticks are called
// directly, the millisecond clock is a FakeClock and the trigger device is
// one the test feeds by hand. Runs offscreen on a 1600 x 1200 screen.

#include "FileBytes.h"
#include "MainFormHarness.h"
#include "QtTestInTemporaryFolder.h"
#include "main/DisplayText.h"
#include "main/QX_Main.h"
#include "main/ScoreGrid.h"
#include "ui/common/TextContrast.h"

#include <QAction>
#include <QApplication>
#include <QDate>
#include <QFile>
#include <QLabel>
#include <QLocale>
#include <QResizeEvent>
#include <QScrollBar>
#include <QWindow>
#include <QTest>
#include <QtEndian>
#include <QWheelEvent>

#include <cmath>
#include <limits>
#include <numbers>

namespace {

QRgb pixel(const QImage& image, int x, int y)
{
    return image.pixel(x, y) & 0xFFFFFFu;
}

QRgb rgb(int r, int g, int b)
{
    return qRgb(r, g, b) & 0xFFFFFFu;
}

QColor labelColor(const QLabel* label)
{
    return label->palette().color(QPalette::WindowText);
}

// Every size the window is told it has, in order.
class ResizeLog : public QObject {
public:
    QList<QSize> sizes;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Resize)
            sizes << static_cast<QResizeEvent*>(event)->size();
        return false;
    }
};

int brightness(QRgb c)
{
    return qRed(c) + qGreen(c) + qBlue(c);
}

// The stopwatch's geometry as the window derives it from the face size.
struct Dial {
    explicit Dial(const QImage& face)
        : cx(static_cast<int>(std::nearbyint(face.width() * 0.47)))
        , cy(static_cast<int>(std::nearbyint(face.height() * 0.6)))
        , rn(static_cast<int>(std::nearbyint(face.height() * 0.27)))
        , rs(static_cast<int>(std::nearbyint(face.height() * 0.155)))
        , rm(static_cast<int>(std::nearbyint(face.height() * 0.288)))
    {
    }
    // A point at `seconds` on the dial (0 = twelve o'clock, clockwise), `radius` out.
    QPoint at(double seconds, double radius) const
    {
        const double a = seconds / 60.0 * 2 * std::numbers::pi - std::numbers::pi / 2;
        return QPoint(cx + static_cast<int>(std::lround(std::cos(a) * radius)),
                      cy + static_cast<int>(std::lround(std::sin(a) * radius)));
    }
    int cx, cy, rn, rs, rm;
};

const QRgb kSector = rgb(108, 127, 157);

} // namespace

class MainFormTest : public QObject, MainFormFixture {
    Q_OBJECT

private:
    int m_dialogShown = 0;
    int m_helpShown = 0;

    // A new process: fresh globals, then the window as main() builds it.
    void start(bool show = true)
    {
        newForm();
        m_form->setCompanions({[this] { ++m_dialogShown; }, [this] { ++m_helpShown; }, {}});
        if (show) {
            m_form->show();
            QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
        }
    }
    void closeForm()
    {
        m_form->close();
        m_form.reset();
    }
    QLabel* label(const char* name) const { return m_form->findChild<QLabel*>(QLatin1String(name)); }
    ScoreGrid* grid() const { return m_form->findChild<ScoreGrid*>(QStringLiteral("ResultGrid")); }
    QString value() const { return label("LabelValue")->text(); }

    // Plays `strokes` strokes at once, then ticks until the measurement ends.
    void playMeasurement(int strokes)
    {
        for (int i = 0; i < strokes; ++i)
            device()->Stroke();
        for (int i = 0; i < 3000 && (m_form->measureState() == msReady || m_form->measureState() == msRunning); ++i)
            tick();
    }
    // Strokes every 100 ms of the fake clock while ticking.
    void tickWithStrokesEvery100ms(int ticks)
    {
        for (int i = 0; i < ticks; ++i) {
            const std::uint32_t before = m_clock->get();
            m_clock->advance(30);
            if (before / 100 != m_clock->get() / 100)
                device()->Stroke(100);
            m_form->GUITimerTimer();
        }
    }
    static void storeScores(std::initializer_list<TQX_Score> scores)
    {
        std::memset(Scores.data(), 0, sizeof(TQX_Score) * Scores.size());
        int slot = 0;
        for (const TQX_Score& s : scores)
            Scores[static_cast<std::size_t>(slot++)] = s;
        SaveScores();
    }
    QStringList column(int col, int rows) const
    {
        QStringList texts;
        for (int r = 1; r <= rows; ++r)
            texts << grid()->Cell(col, r);
        return texts;
    }

private slots:
    void init()
    {
        removeStoredState();
        m_devices = std::make_unique<DeviceFactoryGuard>();
        m_clock = std::make_unique<FakeClock>(1000);
        m_dialogShown = m_helpShown = 0;
    }
    void cleanup()
    {
        releaseForm();
    }

    void firstStartUsesDefaultsAndOpensDialogOnce()
    {
        start(false);
        QCOMPARE(m_form->size(), QSize(800, 600));
        QVERIFY(m_form->deviceDialogDue());
        QCOMPARE(action("Count")->isChecked(), true);
        QCOMPARE(action("NT60")->isChecked(), true);
        QCOMPARE(action("Time")->isChecked(), true);
        QCOMPARE(action("HighScores")->isChecked(), true);
        QCOMPARE(action("AutoReset")->isChecked(), true);
        QCOMPARE(action("MenuBPMFactor")->isChecked(), false);
        QCOMPARE(label("LabelUnit")->text(), QStringLiteral("Strokes"));
        QCOMPARE(label("PanelCategoryText")->text(), QStringLiteral("60 Seconds"));
        QCOMPARE(m_form->windowTitle(), QStringLiteral("Tempovaro"));
        QCOMPARE(DeviceProperties.TriggerDeviceType, 1);
        QCOMPARE(DeviceProperties.AudioChannel.Level, 0.25f);
        QVERIFY(m_devices->current && m_devices->current->started);
        QVERIFY(m_form->isGUITimerEnabled());

        QCOMPARE(m_dialogShown, 0);
        m_form->show();
        QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
        QTRY_COMPARE(m_dialogShown, 1);
        QVERIFY(!m_form->deviceDialogDue());
        QEvent again(QEvent::WindowActivate);
        QApplication::sendEvent(m_form.get(), &again);
        QCOMPARE(m_dialogShown, 1);
    }

    void closeStoresSettingsAndScoresForTheNextStart()
    {
        start();
        action("Speed")->trigger();
        action("NT30")->trigger();
        action("AutoReset")->trigger();
        action("MenuBPMFactor")->trigger();
        m_form->resize(1000, 700);
        DeviceProperties.AudioDevice.ID = "drumfile";
        playMeasurement(7);
        QCOMPARE(m_form->measureState(), msRecord);
        closeForm();

        QVERIFY(QFile::exists(settingsFilePath()));
        QCOMPARE(QFileInfo(QStringLiteral("Tempovaro.qxs")).size(), qint64(16000));

        start();
        QVERIFY(!m_form->deviceDialogDue());
        QCOMPARE(m_form->size(), QSize(1000, 700));
        QCOMPARE(action("Speed")->isChecked(), true);
        QCOMPARE(action("NT30")->isChecked(), true);
        QCOMPARE(action("AutoReset")->isChecked(), false);
        QCOMPARE(action("MenuBPMFactor")->isChecked(), true);
        QCOMPARE(label("LabelUnit")->text(), QStringLiteral("BPM@16th"));
        QCOMPARE(DeviceProperties.AudioDevice.ID, std::string("drumfile"));
        QCOMPARE(grid()->Cell(0, 1), QStringLiteral("7"));
        QCOMPARE(Scores[0].Seconds, 30);
    }

    void storedWindowStateIsLimitedAndRestored()
    {
        // Maximised: the stored size first, then maximised; the close stores the maximised size.
        resetGlobals();
        ProgramSettings = TQX_ProgramSettings{};
        ProgramSettings.WindowWidth = 900;
        ProgramSettings.WindowHeight = 650;
        ProgramSettings.Maximized = 1;
        ProgramSettings.TimeLimit = 12345;
        ProgramSettings.ShowClock = ProgramSettings.ShowScores = 1;
        ProgramSettings.BpmFactor = 1.0f;
        QVERIFY(SaveSettings());
        start(false);
        QCOMPARE(m_form->size(), QSize(900, 650));
        QVERIFY(m_form->windowState() & Qt::WindowMaximized);
        // A recording time no menu item offers checks none but is still used.
        for (const char* name : {"NT10", "NT20", "NT30", "NT40", "NT50", "NT60", "Endless"})
            QVERIFY2(!action(name)->isChecked(), name);
        QCOMPARE(label("PanelCategoryText")->text(), QStringLiteral("12 Seconds"));
        QCOMPARE(device()->limitMs(), 12345);
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
        QTRY_VERIFY(m_form->isMaximized());
        const QSize maximised = m_form->size();
        closeForm();
        QCOMPARE(ProgramSettings.Maximized, std::uint8_t(1));
        QCOMPARE(QSize(ProgramSettings.WindowWidth, ProgramSettings.WindowHeight), maximised);

        // A damaged store's size is kept within the screen and above the minimum.
        ProgramSettings.Maximized = 0;
        ProgramSettings.WindowWidth = 100000;
        ProgramSettings.WindowHeight = -5;
        QVERIFY(SaveSettings());
        start(false);
        const QRect available = m_form->screen()->availableGeometry();
        QCOMPARE(m_form->size(), QSize(available.width(), 600));
        QVERIFY(!(m_form->windowState() & Qt::WindowMaximized));
    }

    void refusedSettingsStillSaveScores()
    {
        start();
        action("NT10")->trigger();
        playMeasurement(4);
        // A file where the store's folder should be makes the settings write fail.
        const QByteArray oldXdg = qgetenv("XDG_CONFIG_HOME");
        QDir().mkpath(QStringLiteral("blocked"));
        QVERIFY(writeBytes(QStringLiteral("blocked/Tempovaro"), {}));
        qputenv("XDG_CONFIG_HOME", QDir::current().absoluteFilePath(QStringLiteral("blocked")).toLocal8Bit());
        closeForm();
        qputenv("XDG_CONFIG_HOME", oldXdg);
        QFile::remove(QStringLiteral("blocked/Tempovaro"));

        const QByteArray bytes = fileBytes(QStringLiteral("Tempovaro.qxs"));
        QCOMPARE(bytes.size(), 16000);
        QCOMPARE(int(bytes[0]), 4);
        QCOMPARE(int(bytes[4]), 10);
    }

    // A damaged store can hold any of these; the window must keep polling,
    // counting and drawing without ending a measurement it cannot end.
    void damagedSettingsKeepTheWindowWorking_data()
    {
        QTest::addColumn<int>("displayMode");
        QTest::addColumn<int>("timeLimit");
        QTest::addColumn<float>("bpmFactor");
        QTest::addColumn<int>("stateAfter");
        QTest::addColumn<int>("countAfter"); // -1: the measurement ends and a fresh device counts
        constexpr float nan = std::numeric_limits<float>::quiet_NaN();
        constexpr int most = std::numeric_limits<int>::max();
        constexpr int least = std::numeric_limits<int>::min();
        // A zero recording time is over right after the first stroke, which never shows as running.
        QTest::newRow("zero time") << 0 << 0 << 1.0f << int(msReady) << 1;
        QTest::newRow("negative time") << 2 << -5 << 1.0f << int(msRunning) << 200;
        QTest::newRow("huge time") << 1 << most << 1.0f << int(msRunning) << 200;
        QTest::newRow("lowest time") << 0 << least << 1.0f << int(msRunning) << 200;
        QTest::newRow("unknown view") << 7 << 10000 << 1.0f << int(msRecord) << -1;
        QTest::newRow("NaN factor") << 1 << 10000 << nan << int(msRecord) << -1;
        QTest::newRow("huge factor") << 1 << 10000 << 1e38f << int(msRecord) << -1;
    }
    void damagedSettingsKeepTheWindowWorking()
    {
        QFETCH(int, displayMode);
        QFETCH(int, timeLimit);
        QFETCH(float, bpmFactor);
        QFETCH(int, stateAfter);
        QFETCH(int, countAfter);
        resetGlobals();
        ProgramSettings = defaultProgramSettings();
        ProgramSettings.DisplayMode = displayMode;
        ProgramSettings.TimeLimit = timeLimit;
        ProgramSettings.BpmFactor = bpmFactor;
        QVERIFY(SaveSettings());
        start();
        QCOMPARE(action("MenuBPMFactor")->isChecked(), false);

        // 12 s of strokes every 60 ms, then the clock is redrawn at a new size.
        for (int i = 0; i < 400; ++i) {
            if (i % 2 == 0)
                device()->Stroke(60);
            tick();
        }
        QCOMPARE(int(m_form->measureState()), stateAfter);
        QCOMPARE(Scores[0].Date != 0.0, countAfter < 0);
        if (countAfter >= 0)
            QCOMPARE(m_form->lastCount(), countAfter);
        QCOMPARE(grid()->isEnabled(), timeLimit >= 0);
        m_form->resize(900, 700);
        QTRY_COMPARE(m_form->stopwatchImage().width(), static_cast<int>(std::nearbyint(m_form->clientArea()->width() * 0.22)));
    }

    void tenSecondMeasurementEndsAtTheLimit()
    {
        start();
        action("NT10")->trigger();
        QCOMPARE(device()->limitMs(), 10000);
        tick(5);
        QCOMPARE(m_form->measureState(), msReady); // armed, no stroke yet

        device()->Stroke();
        const std::uint32_t firstStroke = m_clock->get();
        tick();
        QCOMPARE(m_form->measureState(), msRunning);
        QCOMPARE(labelColor(label("LabelValue")), QColor(0, 0, 0));
        QCOMPARE(value(), QStringLiteral("1"));

        int strokes = 1;
        while (m_clock->get() + 30 - firstStroke < 10000) {
            if (strokes < 40) {
                device()->Stroke();
                ++strokes;
            }
            tick();
            QCOMPARE(m_form->measureState(), msRunning);
        }
        QCOMPARE(m_form->lastCount(), 40);
        QCOMPARE(m_form->clockSeconds(), 9);
        tick(); // the first tick at or after 10,000 ms
        QCOMPARE(m_form->measureState(), msRecord);
        QCOMPARE(m_form->clockSeconds(), 10);
        QCOMPARE(value(), QStringLiteral("40"));
        QCOMPARE(Scores[0].Strokes, 40);
        QCOMPARE(Scores[0].Seconds, 10);
        QVERIFY(std::fabs(Scores[0].Date - nowAsDate()) < 1.0 / 24);
        QCOMPARE(grid()->Cell(0, 1), QStringLiteral("40"));
        QCOMPARE(grid()->Cell(0, 2), QString());
        // The fresh device has no time limit and its start flag already counted as a stroke.
        QCOMPARE(device()->limitMs(), -1);
        QCOMPARE(m_form->idleTimeMs(), 30);
        tick(20);
        QCOMPARE(m_form->clockSeconds(), 10);
        QCOMPARE(value(), QStringLiteral("40"));
        QCOMPARE(Scores[1].Date, 0.0);
    }

    void recordsCountOnlyAboveTheBestOfTheirCategory()
    {
        storeScores({{5, 10, 45000.5}, {100, 20, 45000.6}});
        start();
        action("NT10")->trigger();
        playMeasurement(5);
        QCOMPARE(m_form->measureState(), msFinished);
        QCOMPARE(labelColor(label("LabelValue")), QColor(151, 160, 176));

        action("Reset")->trigger();
        playMeasurement(6);
        QCOMPARE(m_form->measureState(), msRecord);
        QCOMPARE(labelColor(label("LabelValue")), QColor(222, 0, 0));
        QCOMPARE(value(), QStringLiteral("6"));

        // 10 s and 20 s hold higher counts; the first 30 s score is still a record.
        action("NT30")->trigger();
        playMeasurement(3);
        QCOMPARE(m_form->measureState(), msRecord);

        // In BPM view a record keeps the lighter colour.
        action("Speed")->trigger();
        action("Reset")->trigger();
        playMeasurement(4);
        QCOMPARE(m_form->measureState(), msRecord);
        QCOMPARE(labelColor(label("LabelValue")), QColor(151, 160, 176));
    }

    void autoResetComesOnThe167thIdleTick()
    {
        start();
        action("NT10")->trigger();
        playMeasurement(3); // the ending tick is idle tick 1
        tick(165);
        QCOMPARE(m_form->measureState(), msRecord);
        const int built = m_devices->built;
        tick();
        QCOMPARE(m_form->measureState(), msReady);
        QCOMPARE(m_devices->built, built + 1);
        QCOMPARE(device()->limitMs(), 10000);

        // Strokes on the fresh device hold the reset off; the count restarts at the stroke's tick.
        playMeasurement(3);
        tick(99);
        device()->Stroke();
        tick(); // idle tick 1 again
        tick(165);
        QCOMPARE(m_form->measureState(), msFinished);
        tick();
        QCOMPARE(m_form->measureState(), msReady);

        // Without auto reset the result stays.
        action("AutoReset")->trigger();
        QCOMPARE(ProgramSettings.AutoReset, std::uint8_t(0));
        playMeasurement(3);
        tick(1000);
        QCOMPARE(m_form->measureState(), msFinished);
    }

    void endlessRunsAtOnceAndStoresNothing()
    {
        storeScores({{42, 60, 45000.5}});
        start();
        QCOMPARE(grid()->Cell(0, 1), QStringLiteral("42"));
        action("Endless")->trigger();
        QCOMPARE(label("PanelCategoryText")->text(), QStringLiteral("Endless"));
        QVERIFY(!grid()->isEnabled());
        QCOMPARE(grid()->Cell(0, 1), QStringLiteral("42")); // frozen, greyed
        QVERIFY(grid()->FontColor() != QColor(Qt::black));
        QVERIFY(contrastRatio(grid()->FontColor(), grid()->Color()) >= 3.0);
        tick();
        QCOMPARE(m_form->measureState(), msRunning);
        for (int i = 0; i < 500; ++i) {
            device()->Stroke();
            tick();
        }
        QCOMPARE(m_form->measureState(), msRunning);
        QCOMPARE(value(), QStringLiteral("500"));
        QCOMPARE(m_form->clockSeconds(), 0);
        QCOMPARE(Scores[1].Date, 0.0);

        // A disabled list takes no wheel turns.
        QWheelEvent wheel(QPointF(30, 40), QPointF(30, 40), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(grid()->viewport(), &wheel);
        QCOMPARE(grid()->TopRow(), 1);
    }

    void choosingATimeDiscardsTheRunningMeasurement()
    {
        start();
        action("NT10")->trigger();
        device()->Stroke();
        tick(10);
        QCOMPARE(m_form->measureState(), msRunning);
        const int built = m_devices->built;
        action("NT20")->trigger();
        QCOMPARE(m_form->measureState(), msReady);
        QCOMPARE(m_devices->built, built + 1);
        QCOMPARE(device()->limitMs(), 20000);
        QCOMPARE(Scores[0].Date, 0.0);
        QCOMPARE(label("PanelCategoryText")->text(), QStringLiteral("20 Seconds"));
        QVERIFY(action("NT20")->isChecked() && !action("NT10")->isChecked());
    }

    void bpmAt16thNotesShowsQuarterNotes()
    {
        start();
        action("Speed")->trigger();
        action("MenuBPMFactor")->trigger();
        QCOMPARE(ProgramSettings.BpmFactor, 0.25f);
        QCOMPARE(label("LabelUnit")->text(), QStringLiteral("BPM@16th"));
        QCOMPARE(value(), QStringLiteral("0"));
        tickWithStrokesEvery100ms(150);
        QCOMPARE(value(), QStringLiteral("150"));
        action("MenuBPMFactor")->trigger();
        QCOMPARE(label("LabelUnit")->text(), QStringLiteral("BPM"));
        tickWithStrokesEvery100ms(5);
        QCOMPARE(value(), QStringLiteral("600"));
        // Strokes stop: a second later every slot is empty again.
        tick(33);
        QCOMPARE(value(), QStringLiteral("0"));
    }

    void frequencyHoldsZeroForASecondAfterAReset()
    {
        start();
        action("Frequency")->trigger();
        QCOMPARE(label("LabelUnit")->text(), QStringLiteral("Hz"));
        QCOMPARE(value(), QStringLiteral("0.0")); // literal, whatever the locale
        const QString zero = QStringLiteral("0") + QLocale::system().decimalPoint() + QStringLiteral("0");
        const QString ten = QStringLiteral("10") + QLocale::system().decimalPoint() + QStringLiteral("0");
        if (qEnvironmentVariable("LC_ALL").startsWith(QLatin1String("de")))
            QCOMPARE(QLocale::system().decimalPoint(), QStringLiteral(","));

        // The fresh device's start flag samples "no interval" into the ring.
        tick();
        tickWithStrokesEvery100ms(32);
        QCOMPARE(value(), zero);
        tickWithStrokesEvery100ms(1);
        QCOMPARE(value(), ten);
    }

    void countAboveTenThousandShrinksUntilTheNextResize()
    {
        start();
        const int bigSize = m_form->valueFontSize();
        for (int i = 0; i < 9999; ++i)
            device()->Stroke();
        tick();
        QCOMPARE(label("LabelValue")->font().pointSize(), bigSize);
        device()->Stroke();
        tick();
        QCOMPARE(value(), QStringLiteral("10000"));
        QCOMPARE(label("LabelValue")->font().pointSize(), m_form->valueFontSizeSmall());
        m_form->resize(m_form->width() + 40, m_form->height() + 40);
        QTRY_COMPARE(label("LabelValue")->font().pointSize(), m_form->valueFontSize());
        QCOMPARE(value(), QStringLiteral("10000"));
    }

    void clockShowsElapsedSecondsAndRecordingTime()
    {
        start();
        action("NT10")->trigger();
        device()->Stroke();
        const QImage face = m_form->stopwatchImage();
        QVERIFY(!face.isNull());
        const Dial dial(face);
        tick(30); // 0.9 s: no sector yet
        QCOMPARE(m_form->clockSeconds(), 0);
        QCOMPARE(pixel(m_form->clockCanvas(), dial.at(2, dial.rs / 2).x(), dial.at(2, dial.rs / 2).y()),
                 pixel(face, dial.at(2, dial.rs / 2).x(), dial.at(2, dial.rs / 2).y()));
        playMeasurement(0);
        QCOMPARE(m_form->clockSeconds(), 10);
        const QImage& canvas = m_form->clockCanvas();

        const QPoint inSector = dial.at(5, dial.rs / 2.0);
        const QPoint pastSector = dial.at(20, dial.rs / 2.0);
        QCOMPARE(pixel(canvas, inSector.x(), inSector.y()), kSector);
        QCOMPARE(pixel(canvas, pastSector.x(), pastSector.y()), pixel(face, pastSector.x(), pastSector.y()));
        const QPoint mark = dial.at(10, dial.rm);
        QCOMPARE(pixel(canvas, mark.x() - 1, mark.y() - 1), rgb(220, 0, 0));
        // The needle points at two o'clock: darker than the face along its length.
        const QPoint needle = dial.at(10, dial.rn * 0.8);
        bool darker = false;
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                darker |= brightness(pixel(canvas, needle.x() + dx, needle.y() + dy))
                    < brightness(pixel(face, needle.x() + dx, needle.y() + dy));
        QVERIFY(darker);

        // 60 s: the whole disc and a pale mark at twelve.
        action("NT60")->trigger();
        playMeasurement(1);
        QCOMPARE(m_form->clockSeconds(), 60);
        for (double s : {15.0, 30.0, 45.0}) {
            const QPoint p = dial.at(s, dial.rs / 2.0);
            QCOMPARE(pixel(m_form->clockCanvas(), p.x(), p.y()), kSector);
        }
        const QPoint top = dial.at(0, dial.rm);
        QCOMPARE(pixel(m_form->clockCanvas(), top.x() - 1, top.y() - 1), rgb(255, 190, 190));

        // Endless: no mark anywhere the recording times put one.
        action("Endless")->trigger();
        QCOMPARE(pixel(m_form->clockCanvas(), mark.x() - 1, mark.y() - 1), pixel(face, mark.x() - 1, mark.y() - 1));
        QCOMPARE(pixel(m_form->clockCanvas(), top.x() - 1, top.y() - 1), pixel(face, top.x() - 1, top.y() - 1));

        // Painted at the client's top-left with the backdrop left out.
        const QImage shot = m_form->clientArea()->grab().toImage();
        const QPoint centre(dial.cx, dial.cy);
        QCOMPARE(pixel(shot, centre.x(), centre.y() - dial.rn / 2), rgb(0, 0, 0));
        QVERIFY(pixel(shot, 0, face.height() - 1) != pixel(m_form->clockCanvas(), 0, face.height() - 1));
    }

    void clockRedrawsOnlyWhenTheSecondChanges()
    {
        start();
        action("NT10")->trigger();
        // The window's own first paints each force one redraw at the next tick.
        tick();
        QCoreApplication::processEvents();
        const int drawn = m_form->clockDrawCount();
        for (int i = 0; i < 20; ++i) {
            tick();
            QCoreApplication::processEvents();
        }
        QCOMPARE(m_form->clockDrawCount(), drawn);

        device()->Stroke();
        for (int i = 0; i < 40; ++i) { // 1.2 s: the second turns from 0 to 1 once
            tick();
            QCoreApplication::processEvents();
        }
        QCOMPARE(m_form->clockSeconds(), 1);
        QCOMPARE(m_form->clockDrawCount(), drawn + 1);

        // A resize redraws it although the second is the same.
        m_form->resize(m_form->width() + 20, m_form->height());
        QTRY_VERIFY(m_form->clockDrawCount() > drawn + 1);
    }

    void scoreDatesFitTheDateColumn()
    {
        // Run by ctest under several locales, among them none at all (C).
        start();
        const QFontMetrics metrics(grid()->font());
        const QDate epoch(1899, 12, 30);
        for (int month = 1; month <= 12; ++month) {
            const QString text = ScoreDateText(epoch.daysTo(QDate(2026, month, 28)));
            QVERIFY(!text.isEmpty());
            // Drawn 2 pixels in from the cell's left edge.
            QVERIFY2(2 + metrics.horizontalAdvance(text) <= ScoreGrid::kColWidth, qPrintable(text));
        }
    }

    void layoutFollowsTheClientArea()
    {
        start();
        m_form->clientArea()->resize(792, 546);
        QCOMPARE(m_form->valueFontSize(), 131);
        QCOMPARE(m_form->valueFontSizeSmall(), 66);
        QLabel* valueLabel = label("LabelValue");
        QLabel* unitLabel = label("LabelUnit");
        QCOMPARE(valueLabel->font().pointSize(), 131);
        QCOMPARE(unitLabel->font().pointSize(), 20);
        QCOMPARE(valueLabel->y() + valueLabel->height() / 2, 229);
        QCOMPARE(unitLabel->y() + unitLabel->height() / 2, 382);
        QCOMPARE(valueLabel->x() + valueLabel->width() / 2, 396);
        QCOMPARE(unitLabel->x() + unitLabel->width() / 2, 396);
        QCOMPARE(m_form->stopwatchImage().size(), QSize(174, 234));
        QCOMPARE(m_form->clockCanvas().size(), QSize(174, 234));
        QCOMPARE(m_form->backgroundImage().size(), QSize(792, 546));
        QCOMPARE(grid()->geometry(), QRect(652, 60, 140, 343));
        QWidget* panel = m_form->findChild<QWidget*>(QStringLiteral("PanelCategory"));
        QCOMPARE(panel->geometry(), QRect(652, 402, 140, 19));
        QCOMPARE(labelColor(unitLabel), QColor(171, 184, 204));

        // Narrow: the list sits flush right; wide: at 85 %.
        m_form->clientArea()->resize(800, 570);
        QCOMPARE(grid()->x() + grid()->width(), 800);
        m_form->clientArea()->resize(1500, 900);
        QCOMPARE(grid()->x(), 1275);
        QCOMPARE(grid()->height() % 18, 1);
        QCOMPARE(grid()->VisibleRowCount(), (grid()->height() - 1) / 18 - 1);
    }

    void aWindowShrunkByTheWindowSystemReturnsToTheMinimum()
    {
        // A bare X server (no window manager) applies any size a client asks for.
        start();
        ResizeLog log;
        m_form->installEventFilter(&log);
        m_form->windowHandle()->resize(500, 400);
        QTRY_VERIFY(log.sizes.contains(QSize(500, 400)));
        QTRY_COMPARE(m_form->size(), QSize(800, 600));

        // Only the dimension below the minimum is changed.
        m_form->windowHandle()->resize(1000, 450);
        QTRY_VERIFY(log.sizes.contains(QSize(1000, 450)));
        QTRY_COMPARE(m_form->size(), QSize(1000, 600));
        QCOMPARE(m_form->backgroundImage().size(), m_form->clientArea()->size());
        QCOMPARE(m_form->clientArea()->width(), 1000);
    }

    void scoreListRowsSortingAndKeys()
    {
        storeScores({{120, 30, 45001.25}, {95, 30, 45003.5}, {80, 20, 45002.0}, {300, 10, 45004.0}});
        start();
        action("NT30")->trigger();
        QCOMPARE(column(0, 3), (QStringList{"95", "120", ""}));
        QCOMPARE(grid()->Cell(1, 1), ScoreDateText(45003.0));
        action("NT20")->trigger();
        QCOMPARE(column(0, 2), (QStringList{"80", ""}));

        action("NT30")->trigger();
        QTest::mouseClick(grid()->viewport(), Qt::LeftButton, {}, QPoint(30, 8));
        QCOMPARE(ProgramSettings.SortByStrokes, 1);
        QCOMPARE(column(0, 2), (QStringList{"120", "95"}));
        QCOMPARE(Scores[0].Strokes, 300); // the whole table, all categories
        QTest::mouseClick(grid()->viewport(), Qt::LeftButton, {}, QPoint(80, 8));
        QCOMPARE(ProgramSettings.SortByStrokes, 0);
        QCOMPARE(column(0, 2), (QStringList{"95", "120"}));
        QTest::mouseClick(grid()->viewport(), Qt::LeftButton, {}, QPoint(30, 30)); // a body row: no sort
        QCOMPARE(ProgramSettings.SortByStrokes, 0);
        QTest::mouseClick(grid()->viewport(), Qt::LeftButton, {}, QPoint(30, 8));

        // Sorted by strokes, a new result goes where its count puts it.
        playMeasurement(100);
        QCOMPARE(column(0, 3), (QStringList{"120", "100", "95"}));

        // Wheel: one row per notch, never above the first row.
        QWheelEvent down(QPointF(30, 40), QPointF(30, 40), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                         Qt::NoScrollPhase, false);
        QApplication::sendEvent(grid()->viewport(), &down);
        QCOMPARE(grid()->TopRow(), 2);
        QWheelEvent up(QPointF(30, 40), QPointF(30, 40), QPoint(), QPoint(0, 240), Qt::NoButton, Qt::NoModifier,
                       Qt::NoScrollPhase, false);
        QApplication::sendEvent(grid()->viewport(), &up);
        QCOMPARE(grid()->TopRow(), 1);

        // Space re-arms like the Reset item; F1 asks for help.
        QCOMPARE(m_form->focusWidget(), grid());
        const int built = m_devices->built;
        QTest::keyClick(grid(), Qt::Key_Space);
        QCOMPARE(m_devices->built, built + 1);
        QCOMPARE(m_form->measureState(), msReady);
        QTest::keyClick(grid(), Qt::Key_F1);
        QCOMPARE(m_helpShown, 1);

        // The order is stored, and the file is written in it.
        closeForm();
        QFile file(QStringLiteral("Tempovaro.qxs"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(qFromLittleEndian<qint32>(file.read(4).constData()), 300); // all categories in one order
        file.close();
        start();
        QCOMPARE(ProgramSettings.SortByStrokes, 1);
        QCOMPARE(column(0, 3), (QStringList{"120", "100", "95"}));
    }
};

int main(int argc, char* argv[])
{
    // Never touch the real store or score file, even when run by hand.
    return runQtTestInTemporaryFolder<MainFormTest>(argc, argv, [] {
        // A screen larger than the window sizes the tests store.
        const QString config = QDir::current().absoluteFilePath(QStringLiteral("offscreen-screen.json"));
        QFile file(config);
        if (file.open(QIODevice::WriteOnly)) {
            file.write(R"({"screens":[{"name":"test","x":0,"y":0,"width":1600,"height":1200,)"
                       R"("logicalDpi":96,"logicalBpp":32,"dpr":1}]})");
            file.close();
        }
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + config.toLocal8Bit());
    });
}

#include "test_main_form.moc"
