// The main window when its trigger device fails or goes away, and the keys a
// menu left with Escape would otherwise keep from the score list.

#include "ChildProcess.h"
#include "DrumRecording.h"
#include "JackServer.h"
#include "MainFormHarness.h"
#include "MidiSender.h"
#include "PulseServer.h"
#include "QtTestInTemporaryFolder.h"
#include "WaitUntil.h"
#include "capture/QX_MidiPort.h"
#include "main/QX_Main.h"
#include "main/ScoreGrid.h"

#include <QApplication>
#include <QLabel>
#include <QMenuBar>
#include <QTest>

class MainRecoveryTest : public QObject, MainFormFixture {
    Q_OBJECT

    bool m_dialogOpen = false;
    int m_helpShown = 0;

    void start()
    {
        newForm();
        m_form->setCompanions({{}, [this] { ++m_helpShown; }, {}});
        m_form->setDeviceDialogOpenQuery([this] { return m_dialogOpen; });
        m_form->show();
        QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
    }
    // The window retries every 2 s of its clock; a server only just back
    // may not take the device in at the first retry.
    bool deviceBackAfterRetries()
    {
        return waitUntil(
            [&] {
                tick(67);
                return m_form->deviceHint().isEmpty();
            },
            10000, 20);
    }

private slots:
    void init()
    {
        removeStoredState();
        m_clock = std::make_unique<FakeClock>(1000);
        m_dialogOpen = false;
        m_helpShown = 0;
    }
    void cleanup()
    {
        releaseForm();
    }

    void aDeviceThatCannotDeliverIsRetriedEveryTwoSeconds()
    {
        m_devices = std::make_unique<DeviceFactoryGuard>();
        m_devices->nextHealth = CaptureHealth::OpenFailed;
        start(); // no device chosen yet: nothing to retry, only where to choose one
        tick(100);
        QCOMPARE(m_form->deviceHint(), QStringLiteral("No trigger device: Options > Select Trigger Device"));
        const auto* hint = m_form->findChild<QLabel*>(QStringLiteral("DeviceHint"));
        QVERIFY(!hint->geometry().intersects(m_form->findChild<QLabel*>(QStringLiteral("LabelValue"))->geometry()));
        QVERIFY(m_form->clientArea()->rect().contains(hint->geometry()));

        DeviceProperties.AudioDevice.ID = "pulse";
        m_form->ResetClick();
        int built = m_devices->built;
        tick(66); // 1.98 s after the build
        QCOMPARE(m_form->deviceHint(), QStringLiteral("Audio device unavailable, retrying"));
        QCOMPARE(m_devices->built, built);
        tick(1 + 67 * 4); // then every 2 s of the clock, however often it ticks
        QCOMPARE(m_devices->built, built + 5);

        // Back: the line goes, and a delivering device is left alone.
        m_devices->nextHealth = CaptureHealth::Working;
        tick(67);
        built = m_devices->built;
        tick(67 * 5);
        QCOMPARE(m_devices->built, built);
        QCOMPARE(m_form->deviceHint(), QString());

        // Gone during a measurement: the run ends there and the retry takes over.
        m_devices->current->Stroke();
        tick();
        m_devices->current->health = CaptureHealth::StoppedDelivering;
        tick();
        QCOMPARE(m_form->measureState(), msReady);
        QCOMPARE(m_devices->built, built + 1);

        // While the device dialog drives the device, the window keeps out.
        m_form->ResetClick();
        m_devices->current->health = CaptureHealth::StoppedDelivering;
        m_dialogOpen = true;
        built = m_devices->built;
        tick(200);
        QCOMPARE(m_devices->built, built);
        QCOMPARE(m_form->deviceHint(), QString());
    }

    void keysReachTheScoreListAfterAMenuIsLeft()
    {
        m_devices = std::make_unique<DeviceFactoryGuard>();
        start();
        QMenuBar* bar = m_form->menuBar();
        const auto spaceAndF1Work = [&](int helpShown) {
            // Sent to the window, as typed: they reach whichever widget holds the keys.
            const int built = m_devices->built;
            QTest::keyClick(m_form->windowHandle(), Qt::Key_Space);
            QCOMPARE(m_devices->built, built + 1);
            QTest::keyClick(m_form->windowHandle(), Qt::Key_F1);
            QCOMPARE(m_helpShown, helpShown);
        };
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(bar->actions().constFirst()).center());
        QTRY_VERIFY(QApplication::activePopupWidget());
        QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Escape);
        QTRY_VERIFY(!QApplication::activePopupWidget());
        spaceAndF1Work(1);

        bar->setFocus(Qt::MenuBarFocusReason); // as Alt leaves it
        QTest::mouseClick(m_form->clientArea(), Qt::LeftButton, {}, QPoint(300, 300));
        QCOMPARE(m_form->focusWidget(), m_form->findChild<ScoreGrid*>(QStringLiteral("ResultGrid")));
        spaceAndF1Work(2);
    }

    // The real MIDI port on a private JACK server that dies after a
    // measurement and comes back after the auto reset has re-armed.
    void aJackServerThatComesBackIsCountedAgain()
    {
        auto server = std::make_unique<JackServer>(64);
        if (!server->binaryFound())
            QSKIP("jackd is not installed");
        QVERIFY(server->running());
        auto sender = std::make_unique<MidiSender>();
        QVERIFY(sender->isOpen());
        QVERIFY(waitForSenderPort());
        QX_DeviceList ports;
        QCOMPARE(EnumPorts(ports), S_OK);
        QCOMPARE(ports.size(), std::size_t(1));

        start();
        DeviceProperties.TriggerDeviceType = 2;
        DeviceProperties.MidiDevice = ports.front();
        DeviceProperties.MidiNoteNr = -1;
        ProgramSettings.TimeLimit = 10000;
        m_form->ResetClick();
        const auto playUntilRunning = [&] { // the new connection needs a cycle or two
            return waitUntil(
                [&] {
                    sender->send({0x99, 36, 100});
                    tick();
                    return m_form->measureState() == msRunning;
                },
                10000, 20);
        };
        QVERIFY(playUntilRunning());
        tick(354); // past the recording time and the audio device's wait for its last blocks

        sender.reset();
        server->stop();
        tick(170); // the auto reset re-arms with the server gone
        QCOMPARE(m_form->measureState(), msReady);
        QCOMPARE(m_form->deviceHint(), QStringLiteral("MIDI device unavailable, retrying"));

        server.reset();
        server = std::make_unique<JackServer>(64);
        sender = std::make_unique<MidiSender>();
        QVERIFY(server->running() && sender->isOpen());
        QVERIFY(deviceBackAfterRetries());
        QVERIFY(playUntilRunning());
        m_form.reset();
    }

    // The same with audio through a private PulseAudio server.
    void aPulseServerThatComesBackIsCountedAgain()
    {
        if (!PulseServer::binaryPresent())
            QSKIP("pulseaudio is not installed");
        const auto hit = drum::loadHit("The Black Pearl 1.0/PearlSnare-Med.wav");
        if (hit.empty())
            QSKIP("the hydrogen drum kits are not installed");
        const std::string wav = QDir::current().absoluteFilePath(QStringLiteral("strokes.wav")).toStdString();
        const auto strokes = drum::evenStrokes(drum::kRate / 4, drum::kRate / 4.0, 4, 0.8f);
        QVERIFY(drum::writeWav(wav, drum::render(hit, strokes, drum::kRate * 3 / 2, 0.002f)));
        auto server = std::make_unique<PulseServer>();
        QVERIFY(server->running());

        start();
        DeviceProperties.TriggerDeviceType = 1;
        DeviceProperties.AudioDevice.ID = "pulse";
        ProgramSettings.TimeLimit = 10000;
        m_form->ResetClick();
        const auto playUntilRunning = [&] {
            const pid_t player = server->playAsync(wav);
            const bool running = waitUntil(
                [&] {
                    tick();
                    return m_form->measureState() == msRunning;
                },
                10000, 20);
            // Running is all this waits for: the rest of the strokes are not needed.
            return stopPlayer(player) && running;
        };
        QVERIFY(playUntilRunning());
        tick(354); // past the recording time and the audio device's wait for its last blocks

        server->kill();
        tick(170); // the auto reset re-arms with the server gone
        QCOMPARE(m_form->measureState(), msReady);
        QCOMPARE(m_form->deviceHint(), QStringLiteral("Audio device unavailable, retrying"));

        server.reset();
        server = std::make_unique<PulseServer>();
        QVERIFY(server->running());
        QVERIFY(deviceBackAfterRetries());
        QVERIFY(playUntilRunning());
        m_form.reset();
    }
};

int main(int argc, char* argv[])
{
    return runQtTestInTemporaryFolder<MainRecoveryTest>(argc, argv);
}
#include "test_main_recovery.moc"
