// The device dialog on a private PulseAudio server: it lists the "pulse"
// device with its "Capture" line, the meter follows a drum recording played
// into the server and then falls by 10 % per tick, the track bar sets the
// mixer's capture volume, OK stores the choice and Cancel drops a change,
// and after OK the main window counts the recording.
// Audio arrives in real time, so these tests wait for it (bounded) and stop
// the recording once it has shown what they wait for; the meter's decay is
// checked on ticks the test drives itself.

#include "ChildProcess.h"
#include "PreviewSession.h"
#include "PulseServer.h"
#include "capture/QX_AlsaAudio.h"
#include "main/QX_Main.h"
#include "persistence/QX_Global.h"
#include "test_device_select_support.h"
#include "trigger/QX_FastAudioTriggerDevice.h"
#include "trigger/QX_TriggerDevice.h"
#include "ui/common/QX_Barometer.h"
#include "ui/device/QX_DeviceSelect.h"

#include <QComboBox>
#include <QFileInfo>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

const char* const kRecording = "/usr/share/hydrogen/data/drumkits/ColomboAcousticDrumkit/"
                               "snare-opaque-normal-mic-rimshot2.flac";

float captureVolume()
{
    QX_DeviceList lines;
    EnumInputLines("pulse", lines);
    const int capture = findEntry(lines, "Capture");
    return capture < 0 ? -2.0f : lines[capture].Level;
}

} // namespace

class TestDeviceSelectAudio : public QObject {
    Q_OBJECT

    PreviewSession m_preview;

    std::unique_ptr<PulseServer> m_server;

    // A dialog with the pulse device and its Capture line chosen by hand.
    std::unique_ptr<TDeviceSelect> dialogOnPulse()
    {
        auto dialog = std::make_unique<TDeviceSelect>(m_preview.session);
        dialog->TimerVolume->stop();
        dialog->show();
        dialog->FormActivate();
        const int device = findEntry(dialog->AudioDevices, "pulse");
        if (device < 0)
            return nullptr;
        chooseListEntry(dialog->CBAudio, device);
        const int line = findEntry(dialog->AudioChannels, "Capture");
        if (line < 0)
            return nullptr;
        chooseListEntry(dialog->CBAudioChannel, line);
        return dialog;
    }

private slots:
    void initTestCase()
    {
        if (!PulseServer::binaryPresent())
            QSKIP("pulseaudio is not installed");
        // The server must be up before the first ALSA call of this program.
        m_server = std::make_unique<PulseServer>();
        QVERIFY(m_server->running());
    }

    void init()
    {
        TriggerDevice.reset();
        DeviceProperties = TQX_DeviceProperties();
        DeviceProperties.TriggerDeviceType = 1;
        DeviceProperties.AudioChannel.Level = 0.25f;
        DeviceProperties.MidiNoteNr = -1;
    }

    void cleanup() { TriggerDevice.reset(); }

    void listsThePulseDeviceAndItsCaptureLine()
    {
        auto dialog = dialogOnPulse();
        QVERIFY(dialog);
        QCOMPARE(dialog->Properties.AudioDevice.ID, std::string("pulse"));
        QCOMPARE(dialog->Properties.AudioChannel.ID, std::string("Capture"));
        QCOMPARE(dialog->Properties.AudioChannel.Name, std::string("Capture"));
        QVERIFY(TriggerDevice);
    }

    void meterRisesWithTheRecordingAndDecays()
    {
        if (!QFileInfo::exists(QString::fromLatin1(kRecording)))
            QSKIP("the hydrogen drum kits are not installed");
        auto dialog = dialogOnPulse();
        QVERIFY(dialog);
        dialog->TBVolume->setFocus();
        QTest::keyClick(dialog->TBVolume, Qt::Key_Home); // full capture volume
        QCOMPARE(dialog->Properties.AudioChannel.Level, 1.0f);

        PaintCounter paints;
        dialog->Barometer->installEventFilter(&paints);
        dialog->TimerVolume->start();
        const pid_t player = m_server->playAsync(kRecording);
        QTRY_VERIFY_WITH_TIMEOUT(dialog->MeterLevel > 0.3f, 5000);
        QVERIFY(stopPlayer(player));
        dialog->TimerVolume->stop();
        QVERIFY(paints.count > 0);

        // Wait until the input has been quiet for a few 40 ms blocks, without
        // ticking the meter, so the held peak is still shown. Quiet is below
        // the meter's floor of about -48 dB; the high-pass filter's tail keeps
        // the raw level just above zero for a while.
        int quietPolls = 0;
        auto quiet = [&] {
            const float level = TriggerDevice->GetLevel();
            TriggerDevice->ResetLevel();
            quietPolls = level < 0.002f ? quietPolls + 1 : 0;
            return quietPolls >= 4;
        };
        QTRY_VERIFY_WITH_TIMEOUT(quiet(), 5000);
        QVERIFY(dialog->MeterLevel > 0.3f);

        float level = dialog->MeterLevel;
        for (int tick = 0; tick < 6; ++tick) {
            dialog->TimerVolumeTimer();
            QCOMPARE(dialog->MeterLevel, decayed(level));
            level = dialog->MeterLevel;
        }
    }

    void trackBarSetsTheMixersCaptureVolume()
    {
        auto dialog = dialogOnPulse();
        QVERIFY(dialog);
        dialog->TBVolume->setFocus();
        QTest::keyClick(dialog->TBVolume, Qt::Key_End);
        QCOMPARE(dialog->Properties.AudioChannel.Level, 0.0f);
        QVERIFY(captureVolume() >= 0.0f && captureVolume() < 0.01f);
        QTest::keyClick(dialog->TBVolume, Qt::Key_Home);
        QVERIFY(captureVolume() > 0.99f);
        for (int page = 0; page < 10; ++page)
            QTest::keyClick(dialog->TBVolume, Qt::Key_PageDown);
        QCOMPARE(dialog->TBVolume->value(), 500);
        QVERIFY(qAbs(captureVolume() - 0.5f) < 0.01f);
    }

    void okStoresTheChoiceAndCancelDropsTheNextChange()
    {
        auto dialog = dialogOnPulse();
        QVERIFY(dialog);
        int resets = 0;
        dialog->OnResetMeasurement = [&] { ++resets; };
        dialog->TBVolume->setFocus();
        QTest::keyClick(dialog->TBVolume, Qt::Key_Home);
        QTest::mouseClick(dialog->btnOK, Qt::LeftButton);
        QCOMPARE(resets, 1);
        QCOMPARE(DeviceProperties.TriggerDeviceType, 1);
        QCOMPARE(DeviceProperties.AudioDevice.ID, std::string("pulse"));
        QCOMPARE(DeviceProperties.AudioChannel.ID, std::string("Capture"));
        QCOMPARE(DeviceProperties.AudioChannel.Level, 1.0f);

        // Shown again, the stored choice is selected; a change then cancelled
        // leaves the settings and the working copy as they were.
        dialog->show();
        dialog->FormActivate();
        QCOMPARE(dialog->CBAudio->currentIndex(), findEntry(dialog->AudioDevices, "pulse"));
        QCOMPARE(dialog->CBAudioChannel->currentIndex(), findEntry(dialog->AudioChannels, "Capture"));
        QCOMPARE(dialog->TBVolume->value(), 0);
        dialog->TBVolume->setFocus();
        QTest::keyClick(dialog->TBVolume, Qt::Key_End);
        QCOMPARE(dialog->Properties.AudioChannel.Level, 0.0f);
        QTest::mouseClick(dialog->btnCancel, Qt::LeftButton);
        QCOMPARE(resets, 2);
        QCOMPARE(DeviceProperties.AudioChannel.Level, 1.0f);
        QCOMPARE(dialog->Properties.AudioChannel.Level, 1.0f);
        QVERIFY(!dialog->isVisible());
    }

    void afterOkTheMainWindowCountsTheRecording()
    {
        if (!QFileInfo::exists(QString::fromLatin1(kRecording)))
            QSKIP("the hydrogen drum kits are not installed");
        TMainForm mainForm(nullptr, true); // the test drives its 30 ms tick
        auto dialog = std::make_unique<TDeviceSelect>(mainForm.session());
        dialog->TimerVolume->stop();
        dialog->OnResetMeasurement = [&] { mainForm.ResetMeasurement(); };
        dialog->show();
        dialog->FormActivate();
        chooseListEntry(dialog->CBAudio, findEntry(dialog->AudioDevices, "pulse"));
        chooseListEntry(dialog->CBAudioChannel, findEntry(dialog->AudioChannels, "Capture"));
        dialog->TBVolume->setFocus();
        QTest::keyClick(dialog->TBVolume, Qt::Key_Home);
        QTest::mouseClick(dialog->btnOK, Qt::LeftButton);
        QCOMPARE(DeviceProperties.AudioDevice.ID, std::string("pulse"));
        QCOMPARE(mainForm.lastCount(), 0);

        const pid_t player = m_server->playAsync(kRecording);
        QTRY_VERIFY_WITH_TIMEOUT((mainForm.GUITimerTimer(), mainForm.lastCount() >= 1), 5000);
        QVERIFY(stopPlayer(player));
        mainForm.close();
    }

    void detectionChoiceReachesTheLiveDeviceAndTheMainWindow()
    {
        if (!QFileInfo::exists(QString::fromLatin1(kRecording)))
            QSKIP("the hydrogen drum kits are not installed");
        TMainForm mainForm(nullptr, true);
        // The main window loads what an earlier run of this test stored.
        DeviceProperties.AudioDetector = kAudioDetectorStandard;
        auto dialog = dialogOnPulse();
        QVERIFY(dialog);
        dialog->OnResetMeasurement = [&] { mainForm.ResetMeasurement(); };
        QVERIFY(dialog->CBDetection->isEnabled());
        QCOMPARE(dialog->CBDetection->currentText(), QStringLiteral("Standard"));
        dialog->TBVolume->setFocus();
        QTest::keyClick(dialog->TBVolume, Qt::Key_Home);

        chooseListEntry(dialog->CBDetection, 1);
        dialog->TBVolume->setFocus();
        QVERIFY(dynamic_cast<TQX_FastAudioTriggerDevice*>(TriggerDevice.get()));
        // The track bar reaches the mixer through the fast device too.
        QTest::keyClick(dialog->TBVolume, Qt::Key_End);
        QVERIFY(captureVolume() >= 0.0f && captureVolume() < 0.01f);
        QTest::keyClick(dialog->TBVolume, Qt::Key_Home);
        QVERIFY(captureVolume() > 0.99f);
        dialog->TimerVolume->start();
        pid_t player = m_server->playAsync(kRecording);
        QTRY_VERIFY_WITH_TIMEOUT(dialog->MeterLevel > 0.3f, 5000);
        QVERIFY(stopPlayer(player));
        dialog->TimerVolume->stop();

        QTest::mouseClick(dialog->btnOK, Qt::LeftButton);
        QCOMPARE(DeviceProperties.AudioDetector, kAudioDetectorFast);
        QVERIFY(dynamic_cast<TQX_FastAudioTriggerDevice*>(TriggerDevice.get()));
        player = m_server->playAsync(kRecording);
        QTRY_VERIFY_WITH_TIMEOUT((mainForm.GUITimerTimer(), mainForm.lastCount() >= 1), 5000);
        QVERIFY(stopPlayer(player));

        // Shown again, it shows the stored choice; MIDI greys it out.
        dialog->show();
        dialog->FormActivate();
        QCOMPARE(dialog->CBDetection->currentText(), QStringLiteral("Fast"));
        QTest::mouseClick(dialog->RBMidi, Qt::LeftButton);
        QVERIFY(!dialog->CBDetection->isEnabled());
        QTest::mouseClick(dialog->btnCancel, Qt::LeftButton);
        mainForm.close();
    }
};

QTEST_MAIN(TestDeviceSelectAudio)
#include "test_device_select_audio.moc"
