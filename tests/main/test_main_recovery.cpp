// The main window when its trigger device fails or goes away: it tries again
// every 2 s while ready and says why nothing is counted; and the keys a menu
// left with Escape would otherwise keep from the score list.

#include "JackServer.h"
#include "MainFormHarness.h"
#include "MidiSender.h"
#include "QX_Main.h"
#include "QX_MidiPort.h"
#include "ScoreGrid.h"

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <thread>

class MainRecoveryTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<DeviceFactoryGuard> m_devices;
    std::unique_ptr<FakeClock> m_clock;
    std::unique_ptr<TMainForm> m_form;
    bool m_dialogOpen = false;
    int m_helpShown = 0;

    void start()
    {
        m_form.reset();
        resetGlobals();
        m_form = std::make_unique<TMainForm>(nullptr, true);
        m_form->SetCompanions({{}, [this] { ++m_helpShown; }, {}});
        m_form->SetDeviceDialogOpenQuery([this] { return m_dialogOpen; });
        m_form->show();
        QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
    }
    void tick(int n = 1)
    {
        for (int i = 0; i < n; ++i) {
            m_clock->advance(30);
            m_form->GUITimerTimer();
        }
    }
    ScoreGrid* grid() const { return m_form->findChild<ScoreGrid*>(QStringLiteral("ResultGrid")); }

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
        m_form.reset();
        m_devices.reset();
        m_clock.reset();
        TriggerDevice.reset();
    }

    void aDeviceThatCannotDeliverIsRetriedEveryTwoSeconds()
    {
        m_devices = std::make_unique<DeviceFactoryGuard>();
        start();
        DeviceProperties.TriggerDeviceType = 1;
        DeviceProperties.AudioDevice.ID = "pulse";
        m_devices->nextHealth = CaptureHealth::OpenFailed;
        m_form->ResetClick();
        tick();
        QCOMPARE(m_form->deviceHint(), QStringLiteral("Audio device unavailable, retrying"));

        // 2 s by the clock after each build, never more often, whatever the tick does.
        int built = m_devices->built;
        tick(65); // 1.98 s after the build
        QCOMPARE(m_devices->built, built);
        tick();
        QCOMPARE(m_devices->built, built + 1);
        tick(67 * 4);
        QCOMPARE(m_devices->built, built + 5);

        // The server is back: the next attempt works, the line goes, and a
        // delivering device is left alone.
        m_devices->nextHealth = CaptureHealth::Working;
        tick(67);
        built = m_devices->built;
        QCOMPARE(m_form->deviceHint(), QString());
        tick(67 * 5);
        QCOMPARE(m_devices->built, built);
        m_devices->current->Stroke();
        tick();
        QCOMPARE(m_form->measureState(), msRunning);

        // Gone during a measurement: the run is not cut short by a new device.
        m_devices->current->health = CaptureHealth::StoppedDelivering;
        tick(100);
        QCOMPARE(m_devices->built, built);
        QCOMPARE(m_form->deviceHint(), QString());

        // Ready again with a device that stopped: retried on the next tick,
        // as its last build was long ago; MIDI says so in its own words.
        DeviceProperties.TriggerDeviceType = 2;
        DeviceProperties.MidiDevice.ID = "{00000000-0000-0000-0000-000000000001}";
        m_form->ResetClick();
        built = m_devices->built;
        tick(70);
        m_devices->current->health = CaptureHealth::StoppedDelivering;
        tick();
        QCOMPARE(m_devices->built, built + 1);
        m_devices->current->health = CaptureHealth::StoppedDelivering;
        tick();
        QCOMPARE(m_form->deviceHint(), QStringLiteral("MIDI device unavailable, retrying"));

        // While the device dialog drives the device, the window keeps out.
        m_dialogOpen = true;
        built = m_devices->built;
        tick(200);
        QCOMPARE(m_devices->built, built);
        QCOMPARE(m_form->deviceHint(), QString());
    }

    void noDeviceChosenSaysWhereToChooseOne()
    {
        m_devices = std::make_unique<DeviceFactoryGuard>();
        m_devices->nextHealth = CaptureHealth::OpenFailed;
        start(); // a first start: OK in the dialog without a choice leaves no ID
        const int built = m_devices->built;
        tick(200);
        QCOMPARE(m_form->deviceHint(), QStringLiteral("No trigger device: Options > Select Trigger Device"));
        QCOMPARE(m_devices->built, built);
        auto* hint = m_form->findChild<QLabel*>(QStringLiteral("DeviceHint"));
        auto* figure = m_form->findChild<QLabel*>(QStringLiteral("LabelValue"));
        QVERIFY(hint->isVisible());
        QVERIFY(!hint->geometry().intersects(figure->geometry()));
        QVERIFY(!hint->geometry().intersects(grid()->geometry()));
        QVERIFY(m_form->clientArea()->rect().contains(hint->geometry()));
    }

    void keysReachTheScoreListAfterAMenuIsLeft()
    {
        m_devices = std::make_unique<DeviceFactoryGuard>();
        start();
        QMenuBar* bar = m_form->menuBar();
        QAction* first = bar->actions().constFirst();
        const auto spaceAndF1Work = [&](int helpShown) {
            // Keys go where the window sends them, as typed on the keyboard.
            const int built = m_devices->built;
            QTest::keyClick(m_form->windowHandle(), Qt::Key_Space);
            QCOMPARE(m_devices->built, built + 1);
            QTest::keyClick(m_form->windowHandle(), Qt::Key_F1);
            QCOMPARE(m_helpShown, helpShown);
        };

        // A menu opened and left with Escape.
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(first).center());
        QTRY_VERIFY(QApplication::activePopupWidget());
        QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Escape);
        QTRY_VERIFY(!QApplication::activePopupWidget());
        spaceAndF1Work(1);

        // The menu bar holding the keys, then a click beside the figure.
        bar->setFocus(Qt::MenuBarFocusReason);
        QTest::mouseClick(m_form->clientArea(), Qt::LeftButton, {}, QPoint(300, 300));
        QCOMPARE(m_form->focusWidget(), grid());
        spaceAndF1Work(2);
    }

    // The real MIDI port on a private JACK server that dies after a
    // measurement and comes back after the auto reset has re-armed.
    void aJackServerThatComesBackIsCountedAgain()
    {
        using namespace std::chrono_literals;
        auto server = std::make_unique<JackServer>(64);
        if (!server->binaryFound())
            QSKIP("jackd is not installed");
        QVERIFY(server->running());
        auto sender = std::make_unique<MidiSender>();
        QVERIFY(sender->isOpen());
        QX_DeviceList ports;
        // A loaded machine may take a moment to show the new port.
        const auto listed = std::chrono::steady_clock::now() + 10s;
        while (EnumPorts(ports) != S_OK && std::chrono::steady_clock::now() < listed)
            std::this_thread::sleep_for(20ms);
        QCOMPARE(ports.size(), std::size_t(1));

        start();
        DeviceProperties.TriggerDeviceType = 2;
        DeviceProperties.MidiDevice = ports.front();
        DeviceProperties.MidiNoteNr = -1;
        ProgramSettings.TimeLimit = 10000;
        m_form->ResetClick();
        // Notes until two are counted (the new connection needs a cycle or two).
        const auto playUntilRunning = [&] {
            const auto deadline = std::chrono::steady_clock::now() + 10s;
            while (m_form->measureState() != msRunning && std::chrono::steady_clock::now() < deadline) {
                sender->send({0x99, 36, 100});
                std::this_thread::sleep_for(20ms);
                tick();
            }
            return m_form->measureState() == msRunning;
        };
        QVERIFY(playUntilRunning());
        tick(340); // past the 10 s recording time
        QVERIFY(m_form->measureState() == msFinished || m_form->measureState() == msRecord);

        sender.reset();
        server->stop();
        tick(170); // the auto reset re-arms with the server gone
        QCOMPARE(m_form->measureState(), msReady);
        QCOMPARE(m_form->deviceHint(), QStringLiteral("MIDI device unavailable, retrying"));

        server = std::make_unique<JackServer>(64);
        QVERIFY(server->running());
        sender = std::make_unique<MidiSender>();
        QVERIFY(sender->isOpen());
        tick(67);
        QCOMPARE(m_form->deviceHint(), QString());
        QVERIFY(playUntilRunning());
        QVERIFY(TriggerDevice->GetCount() > 0);
        m_form.reset();
    }
};

int main(int argc, char* argv[])
{
    // Never touch the real store or score file, even when run by hand.
    QTemporaryDir work;
    if (!work.isValid() || !QDir::setCurrent(work.path()))
        return 2;
    qputenv("XDG_CONFIG_HOME", QDir(work.path()).absoluteFilePath(QStringLiteral("xdg")).toLocal8Bit());
    QApplication app(argc, argv);
    MainRecoveryTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_main_recovery.moc"
