// The main window with its real audio trigger device, real timer and real
// clock: a drum recording is played into a private PulseAudio server, the
// window captures it through ALSA's "pulse" device, and the 10 s measurement
// ends on its own, goes into the list and, at the close, into the score file.

#include "ChildProcess.h"
#include "DrumRecording.h"
#include "FileBytes.h"
#include "MainFormHarness.h"
#include "PulseServer.h"
#include "QtTestInTemporaryFolder.h"
#include "journal/JournalDatabase.h"
#include "main/QX_Main.h"
#include "main/RunKeeper.h"
#include "main/ScoreGrid.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QApplication>
#include <QTest>
#include <QtEndian>

class MainEndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void tenSecondRecordingIsCountedStoredAndSaved()
    {
        if (!PulseServer::binaryPresent())
            QSKIP("pulseaudio is not installed");
        const auto hit = drum::loadHit("The Black Pearl 1.0/PearlSnare-Med.wav");
        if (hit.empty())
            QSKIP("the hydrogen drum kits are not installed");
        PulseServer server;
        QVERIFY(server.running());

        // 36 snare strokes 0.25 s apart: the last comes 8.75 s after the first,
        // well inside the 10 s recording time, then three quiet seconds.
        constexpr int kStrokes = 36;
        const auto strokes = drum::evenStrokes(drum::kRate / 2, drum::kRate / 4.0, kStrokes, 0.8f);
        const std::string wav = QDir::current().absoluteFilePath(QStringLiteral("ten-seconds.wav")).toStdString();
        QVERIFY(drum::writeWav(wav, drum::render(hit, strokes, drum::kRate * 25 / 2, 0.002f)));

        removeStoredState();
        resetGlobals();
        SetTriggerDeviceFactory(nullptr);
        ProgramSettings = defaultProgramSettings();
        ProgramSettings.TimeLimit = 10000;
        DeviceProperties = defaultDeviceProperties();
        DeviceProperties.AudioDevice.ID = "pulse";
        DeviceProperties.AudioChannel = QX_Device{"Capture", "Capture", 1.0f};
        DeviceProperties.MidiChannel = QX_Device{"", "0", 0.0f};
        QVERIFY(SaveSettings());
        resetGlobals();

        auto form = std::make_unique<TMainForm>();
        const QString journalPath = QDir::current().absoluteFilePath(QStringLiteral("journal.sqlite"));
        RunKeeper runs(journalPath);
        TMainForm::Companions companions;
        companions.RunEnded = [&](const RunRecord& run) { runs.runEnded(run); };
        form->setCompanions(std::move(companions));
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        QVERIFY(!form->deviceDialogDue());
        QCOMPARE(form->measureState(), msReady);

        const pid_t player = server.playAsync(wav);
        QTRY_COMPARE_WITH_TIMEOUT(form->measureState(), msRunning, 5000);
        QElapsedTimer running;
        running.start();
        QTRY_COMPARE_WITH_TIMEOUT(form->measureState(), msRecord, 15000);
        const qint64 measuredMs = running.elapsed();
        // The measurement is over: the rest of the quiet tail is not needed.
        QVERIFY(stopPlayer(player));

        // The state turns running at the first tick after the first stroke and
        // the measurement ends at the first tick once the capture has
        // delivered 10 s past it; ticks are 30 ms. A busy machine delivers
        // and ticks late, which changes nothing counted (the end is judged
        // on the sample clock), so only a run that never ends is a fault.
        QVERIFY2(measuredMs > 9800 && measuredMs < 11500, qPrintable(QString::number(measuredMs)));
        QCOMPARE(form->lastCount(), kStrokes);
        QCOMPARE(form->findChild<QLabel*>(QStringLiteral("LabelValue"))->text(), QString::number(kStrokes));
        auto* grid = form->findChild<ScoreGrid*>(QStringLiteral("ResultGrid"));
        QCOMPARE(grid->Cell(0, 1), QString::number(kStrokes));
        QCOMPARE(form->findChild<QLabel*>(QStringLiteral("PanelCategoryText"))->text(), QStringLiteral("10 Seconds"));

        // The journal holds the run with the score's count and each stroke,
        // their times a quarter of a second apart at the device's sample clock.
        QVERIFY(runs.waitForJournal(10000));
        JournalDatabase journal(journalPath);
        QVERIFY(journal.open());
        const auto stored = journal.listRuns();
        QCOMPARE(stored.size(), std::size_t(1));
        const auto run = journal.loadRun(stored.front().run.id);
        QVERIFY(run);
        QCOMPARE(run->run.count, kStrokes);
        QCOMPARE(run->run.result, RunResult::Record);
        QCOMPARE(run->run.recordingTimeMs, 10000);
        QCOMPARE(run->run.strokes.size(), std::size_t(kStrokes));
        const std::int64_t span = run->run.strokes.back().tick - run->run.strokes.front().tick;
        QVERIFY2(std::llabs(span - (kStrokes - 1) * drum::kRate / 4) < 441, qPrintable(QString::number(span)));
        QVERIFY(run->summary.strokesPerMinute);

        form->close();
        form.reset();
        QVERIFY(!TriggerDevice);
        const QByteArray bytes = fileBytes(QStringLiteral("Tempovaro.qxs"));
        QCOMPARE(bytes.size(), 16000);
        QCOMPARE(qFromLittleEndian<qint32>(bytes.constData()), kStrokes);
        QCOMPARE(qFromLittleEndian<qint32>(bytes.constData() + 4), 10);
        QVERIFY(std::fabs(qFromLittleEndian<double>(bytes.constData() + 8) - nowAsDate()) < 1.0 / 24);
    }
};

int main(int argc, char* argv[])
{
    return runQtTestInTemporaryFolder<MainEndToEndTest>(argc, argv);
}
#include "test_main_end_to_end.moc"
