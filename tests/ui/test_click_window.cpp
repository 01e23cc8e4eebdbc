// The click window: its controls edit the stored click settings, and the
// click starts and stops by hand and with the measurement. It plays on
// ALSA's "null" device, which needs no sound card or server.

#include "QtTestPrograms.h"
#include "persistence/QX_Global.h"
#include "trigger/QX_TriggerDevice.h"
#include "ui/click/ClickWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

// A pad nobody taps.
class SilentPad : public TQX_TriggerDevice {
public:
    void Start(std::int32_t) override {}
    float GetMeanInterval() override { return 0.0f; }
};

class TestClickWindow : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        ClickSettings = TQX_ClickSettings{};
        DeviceProperties = TQX_DeviceProperties{};
    }

    void controlsEditTheSettingsAndTheSegment()
    {
        ClickWindow w;
        w.showModeless();
        auto* tempo = w.findChild<QSpinBox*>(QStringLiteral("Tempo"));
        auto* grid = w.findChild<QComboBox*>(QStringLiteral("Grid"));
        auto* off = w.findChild<QSpinBox*>(QStringLiteral("BarsOff"));
        QVERIFY(tempo && grid && off);
        tempo->setValue(176);
        grid->setCurrentIndex(grid->findText(QStringLiteral("Sextuplets")));
        off->setValue(2);
        QCOMPARE(ClickSettings.TempoBpm, 176);
        QCOMPARE(ClickSettings.Subdivision, 6);
        QCOMPARE(ClickSettings.BarsOff, 2);
        const ClickSegment seg = w.segment();
        QCOMPARE(seg.pattern.tempoBpm, 176.0);
        QCOMPARE(seg.pattern.subdivision, 6);
        QCOMPARE(seg.pattern.silent.barsOn, 4);
        QCOMPARE(seg.pattern.silent.barsOff, 2);
        QVERIFY(w.statusText().contains(QStringLiteral("176 BPM, sextuplets")));
    }

    void startsByHandAndWithTheMeasurement()
    {
        ClickWindow w;
        w.showModeless();
        auto* startStop = w.findChild<QPushButton*>(QStringLiteral("StartStop"));
        w.setOutputOverride(QStringLiteral("no-such-output"));
        QTest::mouseClick(startStop, Qt::LeftButton);
        QVERIFY(!w.isPlaying());
        QCOMPARE(w.statusText(), QStringLiteral("Cannot play on \"no-such-output\""));

        w.setOutputOverride(QStringLiteral("null"));
        QTest::mouseClick(startStop, Qt::LeftButton);
        QVERIFY(w.isPlaying());
        QTRY_VERIFY(w.statusText().startsWith(QStringLiteral("Count-in")) || w.statusText().startsWith(QStringLiteral("Bar")));
        QTest::mouseClick(startStop, Qt::LeftButton);
        QVERIFY(!w.isPlaying());

        // Armed measurements start the click only when asked to.
        w.measurementArmed(true);
        QVERIFY(!w.isPlaying());
        for (auto* box : w.findChildren<QCheckBox*>())
            if (box->text().contains(QStringLiteral("measurement")))
                box->setChecked(true);
        QVERIFY(ClickSettings.WithMeasurement);
        w.measurementArmed(true);
        QVERIFY(w.isPlaying());
        w.measurementArmed(false);
        QVERIFY(!w.isPlaying());
    }

    void calibrationNeedsAnAudioInputAndHandsItBack()
    {
        ClickWindow w;
        w.showModeless();
        int released = 0, restored = 0;
        w.setInputHandover([&] { ++released; }, [&] { ++restored; });
        auto* calibrate = w.findChild<QPushButton*>(QStringLiteral("Calibrate"));
        QVERIFY(calibrate);
        ClickSettings.LatencyUs = 1234;

        // A MIDI trigger has no input to hear the click by: nothing is taken.
        DeviceProperties.TriggerDeviceType = kTriggerDeviceMidi;
        QTest::mouseClick(calibrate, Qt::LeftButton);
        QVERIFY(!w.isCalibrating());
        QVERIFY(w.calibrationText().contains(QStringLiteral("audio input")));
        QCOMPARE(released, 0);

        // With a pad to tap on, the drummer taps along (warned that it is
        // less precise); taps that never come leave the stored offset alone.
        // ("null" plays faster than time: the clicks may be over at once.)
        DeviceProperties.MidiDevice.ID = "pad";
        ClickSettings.MidiLatencyUs = 4321;
        w.setTapDeviceMaker([] { return std::make_unique<SilentPad>(); });
        w.setOutputOverride(QStringLiteral("null"));
        w.showModeless();
        QVERIFY(w.calibrationText().contains(QStringLiteral("less precise than an audio loopback")));
        QTest::mouseClick(calibrate, Qt::LeftButton);
        QCOMPARE(released, 1);
        QTRY_VERIFY_WITH_TIMEOUT(!w.isCalibrating(), 20000);
        QVERIFY(w.calibrationText().startsWith(QStringLiteral("No taps came")));
        QCOMPARE(restored, 1);
        QCOMPARE(ClickSettings.MidiLatencyUs, 4321);
        released = restored = 0;

        // An input that does not open: the measurement gets its device back
        // at once and the stored offset stays.
        DeviceProperties.TriggerDeviceType = kTriggerDeviceAudio;
        DeviceProperties.AudioDevice.ID = "no-such-input";
        w.setOutputOverride(QStringLiteral("null"));
        QTest::mouseClick(calibrate, Qt::LeftButton);
        QVERIFY(!w.isCalibrating());
        QCOMPARE(w.calibrationText(), QStringLiteral("The input \"no-such-input\" does not open."));
        QCOMPARE(released, 1);
        QCOMPARE(restored, 1);
        QCOMPARE(ClickSettings.LatencyUs, 1234);
    }
};

TEMPOVARO_QTEST(TestClickWindow)
#include "test_click_window.moc"
