// A run's device, as the report, the journal's table and its CSV all write it.

#include "QtTestPrograms.h"
#include "journal/RunText.h"

#include <QLocale>
#include <QTest>

Q_DECLARE_METATYPE(RunDevice)

class TestRunText : public QObject {
    Q_OBJECT

private slots:
    void deviceText_data()
    {
        QTest::addColumn<RunDevice>("device");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        using D = DeviceType;
        using A = AudioDetector;
        QTest::newRow("audio, line") << RunDevice{D::Audio, "", "Mic", 0, -1, A::Standard, {}} << "USB" << "USB (Mic)";
        QTest::newRow("audio, fast") << RunDevice{D::Audio, "", "Mic", 0, -1, A::Fast, {}} << "USB"
                                     << "USB (Mic), Fast detector";
        QTest::newRow("audio, no line") << RunDevice{D::Audio, "", "", 0, -1, A::Fast, {}} << "USB"
                                        << "USB, Fast detector";
        // A detector stored with a MIDI run (a damaged row) is not said.
        QTest::newRow("midi, all") << RunDevice{D::Midi, "", "", 0, -1, A::Fast, {}} << "Pad" << "Pad";
        QTest::newRow("midi, one note") << RunDevice{D::Midi, "", "", 10, 38, A::Standard, {}} << "Pad"
                                        << "Pad, channel 10, note 38";
        QTest::newRow("midi, note 0") << RunDevice{D::Midi, "", "", 0, 0, A::Standard, {}} << "Pad" << "Pad, note 0";
        QTest::newRow("unnamed") << RunDevice{D::Audio, "", "Mic", 0, -1, A::Standard, {}} << "" << "(unnamed) (Mic)";
        QTest::newRow("score list") << RunDevice{D::None, "", "", 0, -1, A::Standard, {}} << "" << "Score list";
        QTest::newRow("unknown type, named") << RunDevice{static_cast<D>(7), "", "x", 3, 4, A::Fast, {}} << "Kit"
                                             << "Kit";
    }
    void deviceText()
    {
        QFETCH(RunDevice, device);
        QFETCH(QString, name);
        QFETCH(QString, text);
        QCOMPARE(runDeviceText(device, name), text);
        // Without a display name of its own, the run's listed name is shown.
        device.name = name.toStdString();
        QCOMPARE(runDeviceText(device), text);
    }

    void recordingTime()
    {
        QCOMPARE(recordingTimeText(-1), QString("Endless"));
        QCOMPARE(recordingTimeText(60000), QString("60 s"));
        QLocale::setDefault(QLocale(QLocale::German));
        QCOMPARE(recordingTimeText(10500), QString("10,5 s"));
        QLocale::setDefault(QLocale::c());
    }
};

TEMPOVARO_QTEST(TestRunText)
#include "test_run_text.moc"
