// The device dialog on a private JACK server with a test instrument: MIDI
// mode lists the instrument's port; in single-note mode another pad's note
// shows grey with the meter still, the chosen pad's note black and bold with
// the meter moving; "Set" adopts the shown note and OK stores it, after
// which the running device counts only that note.
// Notes travel through JACK in real time, so the test waits (bounded) until
// each has arrived; the meter ticks are driven by the test.

#include "JackServer.h"
#include "MidiSender.h"
#include "PreviewSession.h"
#include "WaitUntil.h"
#include "capture/QX_MidiPort.h"
#include "persistence/QX_Global.h"
#include "test_device_select_support.h"
#include "trigger/QX_TriggerDevice.h"
#include "ui/common/QX_Barometer.h"
#include "ui/device/QX_DeviceSelect.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <cstdint>
#include <memory>

namespace {

// Sends the note (channel 10, where drum kits play) until the running device
// reports it as its last note; false after five seconds.
bool deliver(MidiSender& sender, std::uint8_t note, std::uint8_t velocity)
{
    return waitUntil(
        [&] {
            sender.send({0x99, note, velocity});
            return waitUntil([&] { return TriggerDevice && TriggerDevice->GetLastNote() == note; }, 50);
        },
        5000, 0);
}

QColor noteColor(const TDeviceSelect& dialog)
{
    return dialog.labelNote->palette().color(QPalette::WindowText);
}

} // namespace

class TestDeviceSelectMidi : public QObject {
    Q_OBJECT

    PreviewSession m_preview;

    std::unique_ptr<JackServer> m_server;
    std::unique_ptr<MidiSender> m_sender;

private slots:
    void initTestCase()
    {
        m_server = std::make_unique<JackServer>();
        if (!m_server->binaryFound())
            QSKIP("jackd is not installed");
        QVERIFY2(m_server->running(), m_server->log().c_str());
        m_sender = std::make_unique<MidiSender>();
        QVERIFY(m_sender->isOpen());
        // The dialog lists the ports once, when it opens.
        QVERIFY(waitForSenderPort());
    }

    void cleanupTestCase()
    {
        TriggerDevice.reset();
        m_sender.reset();
        m_server.reset();
    }

    void singleNoteModeLearnsThePadAndOkStoresIt()
    {
        TriggerDevice.reset();
        DeviceProperties = TQX_DeviceProperties();
        DeviceProperties.TriggerDeviceType = 2;
        // A whole entry rather than an assignment to its ID: GCC 12 at -O2 warns
        // (falsely, -Wrestrict) about the inlined copy of a short literal here.
        DeviceProperties.MidiChannel = QX_Device{{}, std::string("0"), 0.0f};
        DeviceProperties.MidiNoteNr = 38;

        TDeviceSelect dialog(m_preview.session);
        dialog.TimerVolume->stop();
        dialog.show();
        dialog.FormActivate();
        const int port = findEntry(dialog.MidiDevices, "DrumSender", true, false);
        QVERIFY2(port >= 0, "the test instrument is not listed");
        chooseListEntry(dialog.CBMidi, port);
        QCOMPARE(dialog.Properties.MidiDevice.ID, dialog.MidiDevices[port].ID);
        QVERIFY(dialog.rbSingle->isChecked());
        QCOMPARE(dialog.Properties.MidiNoteNr, 38);

        // Another pad: grey, not bold, the meter stays down.
        QVERIFY(deliver(*m_sender, 36, 120));
        dialog.TimerVolumeTimer();
        QCOMPARE(dialog.labelNote->text(), QStringLiteral("36"));
        QVERIFY(!dialog.labelNote->font().bold());
        QCOMPARE(noteColor(dialog), QColor(128, 128, 128));
        QCOMPARE(dialog.MeterLevel, 0.0f);

        // The chosen pad: black, bold, the meter up.
        QVERIFY(deliver(*m_sender, 38, 127));
        dialog.TimerVolumeTimer();
        QCOMPARE(dialog.labelNote->text(), QStringLiteral("38"));
        QVERIFY(dialog.labelNote->font().bold());
        QCOMPARE(noteColor(dialog), QColor(0, 0, 0));
        QVERIFY(dialog.MeterLevel > 0.9f);

        // "Set" adopts the pad last heard.
        QVERIFY(deliver(*m_sender, 36, 90));
        dialog.TimerVolumeTimer();
        QCOMPARE(noteColor(dialog), QColor(128, 128, 128));
        QTest::mouseClick(dialog.btnSet, Qt::LeftButton);
        QCOMPARE(dialog.Properties.MidiNoteNr, 36);
        dialog.TimerVolumeTimer();
        QVERIFY(dialog.labelNote->font().bold());

        QTest::mouseClick(dialog.btnOK, Qt::LeftButton);
        QCOMPARE(DeviceProperties.TriggerDeviceType, 2);
        QCOMPARE(DeviceProperties.MidiDevice.ID, dialog.MidiDevices[port].ID);
        QCOMPARE(DeviceProperties.loadMidiNoteNr(), 36);

        // The device reads the stored note at every message: pad 38 no longer
        // counts, pad 36 does.
        const std::int32_t before = TriggerDevice->GetCount();
        QVERIFY(deliver(*m_sender, 38, 100));
        QCOMPARE(TriggerDevice->GetCount(), before);
        // (The first accepted note after a pause of a second only re-arms.)
        QVERIFY(waitUntil(
            [&] {
                m_sender->send({0x99, 36, 100});
                return TriggerDevice->GetCount() > before;
            },
            5000, 20));
    }
};

QTEST_MAIN(TestDeviceSelectMidi)
#include "test_device_select_midi.moc"
