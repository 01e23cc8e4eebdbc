// The main window's run notebook: which runs reach the journal, how each
// ended, and with exactly which strokes.

#include "DrumRecording.h"
#include "MainFormHarness.h"
#include "QtTestPrograms.h"
#include "analysis/RunTiming.h"
#include "main/QX_Main.h"
#include "trigger/QX_AudioTriggerDevice.h"

#include <QAction>
#include <QLabel>
#include <QTest>

#include <vector>

class MainRunsTest : public QObject, MainFormFixture {
    Q_OBJECT

    std::vector<RunRecord> m_ended;
    int m_progressCalls = 0;
    std::size_t m_lastProgressStrokes = 0;

    void start()
    {
        newForm();
        TMainForm::Companions companions;
        companions.RunEnded = [this](const RunRecord& run) { m_ended.push_back(run); };
        companions.RunProgress = [this](const RunRecord& run) {
            ++m_progressCalls;
            m_lastProgressStrokes = run.strokes.size();
        };
        m_form->setCompanions(std::move(companions));
    }
    void choose(const char* name) { action(name)->trigger(); }

private slots:
    void init()
    {
        removeStoredState();
        m_clock = std::make_unique<FakeClock>(1000);
        m_devices = std::make_unique<DeviceFactoryGuard>();
        m_ended.clear();
        m_progressCalls = 0;
        start();
    }
    void cleanup()
    {
        releaseForm();
        removeStoredState();
    }

    // A timed run ends once, as the score list's record, with every stroke at
    // its exact tick; the device that listens after it adds nothing.
    void timedRunEndsOnceWithItsStrokes()
    {
        choose("NT10");
        for (const std::int64_t atMs : {0, 95, 210, 330})
            device()->Stroke(100, atMs);
        for (int i = 0; i < 400 && m_form->measureState() != msRecord; ++i)
            tick();
        QCOMPARE(m_form->measureState(), msRecord);
        QCOMPARE(m_ended.size(), std::size_t(1));
        const RunRecord& run = m_ended.front();
        QCOMPARE(run.result, RunResult::Record);
        QVERIFY(run.ranToEnd);
        QCOMPARE(run.count, m_form->lastCount());
        QCOMPARE(run.count, 4);
        QCOMPARE(run.recordingTimeMs, 10000);
        QCOMPARE(run.ticksPerSecond, std::int64_t(1000));
        QCOMPARE(run.strokes.size(), std::size_t(4));
        QCOMPARE(run.strokes[2].tick, std::int64_t(210));
        QVERIFY(run.startUtcMs > 0);

        device()->Stroke(100, 0); // the listener after the run
        tick(10);
        m_form->ResetClick();
        QCOMPARE(m_ended.size(), std::size_t(1));
    }

    // A run played while the click plays keeps the click's grid on the
    // device's own clock; a click that starts after the run's first stroke
    // is the next run's, and a run without the click has none.
    void aRunWithTheClickKeepsItsGridOnTheDevicesClock()
    {
        // 120 BPM quarters with a one-bar count-in from output sample 44,100:
        // the grid starts 3 s into the output stream, which stood 0.5 s ahead
        // of the monotonic clock; the device's clock stands 5 s ahead of it,
        // and the calibration adds 2 ms: 5000 + 2500 + 2 = 7502 ms.
        ClickOnOutput click;
        click.segment.pattern.tempoBpm = 120.0;
        click.segment.startSample = 44100;
        click.streamOffsetFrames = 22050.0;
        click.latencyUs = 2000;
        int asked = 0;
        const auto source = [&] {
            ++asked;
            return std::optional<ClickOnOutput>(click);
        };
        choose("NT10");
        device()->clockOffset = 5000.0;
        m_form->session().setClickSource(source);
        tick();
        QCOMPARE(asked, 0); // nothing to place before the first stroke
        for (int k = 0; k < 8; ++k)
            device()->Stroke(500, 7502 + k * 500 + (k % 2 == 0 ? 6 : -4));
        tick();
        // The click stops at the run's end (the finished state), before the run is kept.
        m_form->session().setClickSource({});
        m_clock->advance(10000);
        device()->closeTime();
        for (int i = 0; i < 400 && m_ended.empty(); ++i)
            tick();
        QCOMPARE(m_ended.size(), std::size_t(1));
        QVERIFY(m_ended[0].click);
        QCOMPARE(m_ended[0].click->gridStartTick, 7502.0);
        QCOMPARE(m_ended[0].click->latencyUs, 2000);
        const auto timing = analyzeRunTiming(m_ended[0]);
        QVERIFY(timing && timing->figures.handA.meanMs && timing->figures.handB.meanMs);
        QVERIFY(std::abs(*timing->figures.handA.meanMs - 6.0) < 1e-9 && std::abs(*timing->figures.handB.meanMs + 4.0) < 1e-9);

        m_form->ResetClick();
        device()->Stroke(EmptyIntervalForTest, 100);
        tick();
        device()->clockOffset = 0.0;
        m_form->session().setClickSource(source); // started after the first stroke
        tick(3);
        m_form->ResetClick();
        QCOMPARE(m_ended.size(), std::size_t(2));
        QVERIFY(!m_ended[1].click);

        device()->clockOffset = 0.0;
        device()->Stroke(EmptyIntervalForTest, 100);
        tick();
        m_form->ResetClick();
        QCOMPARE(m_ended.size(), std::size_t(3));
        QVERIFY(m_ended[2].click); // the same click plays on into the next run
    }

    // An endless run is kept as stopped, a timed one stopped early as cut
    // short, when it is reset or the program closes; a measurement nobody
    // played is no run.
    void runsCutShortByResetOrClose()
    {
        choose("Endless");
        m_form->ResetClick();
        QVERIFY(m_ended.empty());

        device()->Stroke(EmptyIntervalForTest, 0);
        device()->Stroke(120, 120);
        tick(3);
        m_form->ResetClick();
        QCOMPARE(m_ended.size(), std::size_t(1));
        QCOMPARE(m_ended[0].result, RunResult::Stopped);
        QVERIFY(!m_ended[0].ranToEnd);
        QCOMPARE(m_ended[0].recordingTimeMs, -1);
        QCOMPARE(m_ended[0].strokes.size(), std::size_t(2));

        choose("NT30");
        device()->Stroke(EmptyIntervalForTest, 0);
        tick(2);
        m_form->close();
        QCOMPARE(m_ended.size(), std::size_t(2));
        QCOMPARE(m_ended[1].result, RunResult::CutShort);
        QCOMPARE(m_ended[1].recordingTimeMs, 30000);
        QCOMPARE(m_ended[1].count, 1);
    }

    // The device dialog asks for a device of its own for its meter: the run
    // ends there with what was played, and the meter's strokes join no run.
    void aPreviewDeviceEndsTheRun()
    {
        choose("Endless");
        device()->Stroke(EmptyIntervalForTest, 0);
        tick();
        m_form->session().previewDevice(DeviceProperties);
        ManualTriggerDevice* meterDevice = device();
        QCOMPARE(TriggerDevice.get(), meterDevice);
        meterDevice->Stroke(EmptyIntervalForTest, 5);
        tick(3);
        QCOMPARE(m_ended.size(), std::size_t(1));
        QCOMPARE(m_ended[0].strokes.size(), std::size_t(1));
        m_form->ResetClick(); // the dialog closes and the window re-arms
        QCOMPARE(m_ended.size(), std::size_t(1));
    }

    // The live report follows at most every 100 ms, and only while strokes come.
    void liveProgressIsThrottled()
    {
        choose("Endless");
        for (int i = 0; i < 34; ++i) { // about a second, a stroke a tick
            device()->Stroke(30, i * 30);
            tick();
        }
        QVERIFY(m_progressCalls >= 8);
        QVERIFY(m_progressCalls <= 11);
        QVERIFY(m_lastProgressStrokes >= 30);
        const int calls = m_progressCalls;
        tick(20);
        QCOMPARE(m_progressCalls, calls);
    }

    // The window's clock reaching the recording time does not end the run
    // while the device may still deliver strokes played inside it: a stroke
    // played just before the end but delivered after it is in the score, the
    // figure and the journal alike. A device that never says it is done
    // holds the end back by its wait, no longer (one that does is the
    // standard detector's case below).
    void runEndWaitsForTheDevicesOwnClock()
    {
        choose("NT10");
        device()->waitMs = 420;
        const std::uint32_t first = m_clock->get();
        device()->Stroke(EmptyIntervalForTest, first);
        while (m_clock->get() - first < 10000)
            tick();
        device()->Stroke(100, first + 9990);
        tick(13); // 420 ms after the clock filled, less one tick
        QCOMPARE(m_form->measureState(), msRunning);
        tick();
        QCOMPARE(m_form->measureState(), msRecord);
        QCOMPARE(Scores[0].Strokes, 2);
        QCOMPARE(m_form->findChild<QLabel*>(QStringLiteral("LabelValue"))->text(), QStringLiteral("2"));
        QCOMPARE(m_ended.size(), std::size_t(1));
        QCOMPARE(m_ended[0].count, 2);
        QCOMPARE(m_ended[0].strokes.size(), std::size_t(2));
    }

    // A device that stops delivering during a run ends it: the journal keeps
    // the strokes as lost, no score is stored, the hint line says so until the
    // next run begins, and the ready state's retry takes over.
    void aDeviceLostDuringARunEndsItWithoutAScore_data()
    {
        QTest::addColumn<QString>("time");
        QTest::newRow("timed") << QStringLiteral("NT10");
        QTest::newRow("endless") << QStringLiteral("Endless");
    }
    void aDeviceLostDuringARunEndsItWithoutAScore()
    {
        QFETCH(QString, time);
        DeviceProperties.TriggerDeviceType = kTriggerDeviceAudio;
        DeviceProperties.AudioDevice.ID = "pulse";
        choose(time.toLatin1().constData());
        for (int k = 0; k < 3; ++k) {
            device()->Stroke(100);
            tick();
        }
        QCOMPARE(m_form->measureState(), msRunning);
        QVERIFY(m_form->deviceHint().isEmpty());

        m_devices->nextHealth = CaptureHealth::OpenFailed; // the server is gone
        device()->health = CaptureHealth::StoppedDelivering;
        const int built = m_devices->built;
        tick();
        QCOMPARE(m_ended.size(), std::size_t(1));
        QCOMPARE(m_ended[0].result, RunResult::DeviceLost);
        QCOMPARE(m_ended[0].count, 3);
        QCOMPARE(m_ended[0].strokes.size(), std::size_t(3));
        QVERIFY(!m_ended[0].ranToEnd);
        QCOMPARE(Scores[0].Date, 0.0);
        QVERIFY(m_form->deviceHint().contains(QStringLiteral("stopped during the run")));
        QCOMPARE(m_devices->built, built + 1);

        m_devices->nextHealth = CaptureHealth::Working; // back again
        tick(67);
        QCOMPARE(m_devices->built, built + 2);
        QCOMPARE(m_ended.size(), std::size_t(1));
        QVERIFY(m_form->deviceHint().contains(QStringLiteral("stopped during the run")));
        device()->Stroke(100);
        tick();
        QVERIFY(m_form->deviceHint().isEmpty());
        QCOMPARE(m_form->measureState(), msRunning);
    }

    // A 10 s run on the standard detector, its blocks delivered late: the
    // count on the window, in the score list and in the journal, and the
    // strokes the journal keeps, are the strokes whose onset lies less than
    // 10 s (less 1 ms) after the first one's, as a device fed the whole recording at once
    // (tempovaro-count --time) counts them, whatever the delay and wherever
    // the last stroke falls before the end.
    void countAndStoredStrokesAgreeWhateverTheCaptureDelay_data()
    {
        QTest::addColumn<double>("lastBeforeEndMs");
        QTest::addColumn<int>("delayMs");
        for (const double before : {1.5, 10.0, 57.0, 80.0})
            for (const int delay : {0, 70, 150})
                QTest::addRow("last stroke %.1f ms before the end, delivered %d ms late", before, delay)
                    << before << delay;
    }
    void countAndStoredStrokesAgreeWhateverTheCaptureDelay()
    {
        QFETCH(double, lastBeforeEndMs);
        QFETCH(int, delayMs);
        const auto hit = drum::loadHit("The Black Pearl 1.0/PearlSnare-Med.wav");
        if (hit.empty())
            QSKIP("the hydrogen drum kits are not installed");
        // 121 strokes at about 12/s, the 121st lastBeforeEndMs before the end.
        const double interval = (441000.0 - lastBeforeEndMs * 44.1) / 120;
        const auto samples = drum::render(hit, drum::evenStrokes(22050, interval, 130), 13 * 44100, 0.002f);

        TQX_AudioTriggerDevice whole("");
        whole.Start(10000);
        whole.AnalyzeSamples(samples.data(), static_cast<std::int32_t>(samples.size() * 2));
        QCOMPARE(whole.GetCount(), 121);

        TQX_AudioTriggerDevice* audio = nullptr;
        SetTriggerDeviceFactory([&audio](const TQX_DeviceProperties&) {
            auto device = std::make_unique<TQX_AudioTriggerDevice>("");
            audio = device.get();
            return std::unique_ptr<TQX_TriggerDevice>(std::move(device));
        });
        choose("NT10");
        TQX_AudioTriggerDevice* const runDevice = audio;
        // Blocks of 40 ms, each delivered delayMs after its last sample was played.
        const std::uint32_t startMs = m_clock->get();
        std::size_t delivered = 0;
        for (std::uint32_t ms = 0; ms < 13000 && m_form->measureState() != msRecord; ms += 10) {
            m_clock->set(startMs + ms);
            while ((delivered + 1) * 40 + static_cast<std::size_t>(delayMs) <= ms &&
                   (delivered + 1) * 1764 <= samples.size()) {
                runDevice->AnalyzeSamples(samples.data() + delivered * 1764, 2 * 1764);
                ++delivered;
            }
            if (ms % 30 == 0)
                m_form->GUITimerTimer();
        }
        QCOMPARE(m_form->measureState(), msRecord);
        QCOMPARE(m_ended.size(), std::size_t(1));
        QCOMPARE(m_ended[0].count, whole.GetCount());
        QCOMPARE(m_ended[0].strokes.size(), std::size_t(121));
        QCOMPARE(Scores[0].Strokes, 121);
        QCOMPARE(m_form->findChild<QLabel*>(QStringLiteral("LabelValue"))->text(), QStringLiteral("121"));
    }

private:
    static constexpr std::int32_t EmptyIntervalForTest = TQX_TriggerDevice::EmptyInterval;
};

TEMPOVARO_QTEST(MainRunsTest)
#include "test_main_runs.moc"
