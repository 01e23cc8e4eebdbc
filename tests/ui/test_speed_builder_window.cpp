// The speed builder's window, offscreen and on an injected clock: a plan
// runs hands-free from its count-in, each repetition's click lands on the
// output sample where the strokes are timed, the tempo steps up after a pass
// and back after a fail, the status says so, and the plan is kept after each
// repetition in one row, and at its end.
#include "QtTestPrograms.h"
#include "journal/JournalDatabase.h"
#include "persistence/QX_Global.h"
#include "ui/click/SpeedBuilderWindow.h"

#include <QLabel>
#include <QSpinBox>
#include <QTest>

#include <cmath>

namespace {

constexpr double kRate = 44100.0;
constexpr double kOutputOffsetFrames = -123456.0; // the output stream against the monotonic clock
constexpr double kDeviceOffsetTicks = 98765.0;    // the capture against the monotonic clock

struct FakeOutput : SpeedClickOutput {
    std::vector<ClickSegment>* scheduled;
    std::size_t room; // segments it takes before refusing
    std::optional<StreamLine> line;
    FakeOutput(std::vector<ClickSegment>* s, std::size_t r, std::optional<StreamLine> l)
        : scheduled(s), room(r), line(l) {}
    bool start() override { return true; }
    bool schedule(const ClickSegment& segment) override
    {
        if (scheduled->size() >= room)
            return false;
        scheduled->push_back(segment);
        return true;
    }
    std::optional<double> streamOffsetFrames() const override { return kOutputOffsetFrames; }
    std::optional<StreamLine> streamLine() const override { return line; }
    double rate() const override { return kRate; }
};

} // namespace

class TestSpeedBuilderWindow : public QObject {
    Q_OBJECT

    double m_now = 100.0;
    std::vector<ClickSegment> m_scheduled;
    std::vector<StrokeEvent> m_strokes;
    std::vector<SpeedPlanRecord> m_kept;
    int m_armed = 0;
    std::size_t m_outputRoom = 100;
    // The streams' fitted lines; empty: the offsets above.
    std::optional<StreamLine> m_outLine, m_inLine;

    SpeedBuilderHooks hooks()
    {
        SpeedBuilderHooks h;
        h.monotonicS = [this] { return m_now; };
        h.makeOutput = [this] { return std::make_unique<FakeOutput>(&m_scheduled, m_outputRoom, m_outLine); };
        h.armMeasurement = [this] { ++m_armed; };
        h.strokes = [this] { return SpeedStrokeFeed{&m_strokes, kAudioTicksPerSecond, kDeviceOffsetTicks, m_inLine}; };
        // The first write gets row 42; later ones name it.
        h.keepPlan = [this](const SpeedPlanRecord& r) {
            m_kept.push_back(r);
            return std::optional<std::int64_t>(r.id != 0 ? r.id : 42);
        };
        h.nowUtcMs = [] { return std::int64_t{1234}; };
        return h;
    }

    // Plays the last scheduled repetition's grid points offsetMs late, as the
    // capture hears them (with the calibrated latency), then lets its time
    // pass. Without lines the streams run at the nominal rate from their offsets.
    void playLastRepetition(SpeedBuilderWindow& w, double offsetMs)
    {
        const ClickSegment& seg = m_scheduled.back();
        const StreamLine out = m_outLine.value_or(StreamLine{0.0, kOutputOffsetFrames, kRate});
        const StreamLine in = m_inLine.value_or(StreamLine{0.0, kDeviceOffsetTicks, kRate});
        const std::int64_t points = std::int64_t{seg.bars} * seg.pattern.beatsPerBar * seg.pattern.subdivision;
        const double lateS = offsetMs / 1000.0 + ClickSettings.LatencyUs * 1e-6;
        for (std::int64_t k = 0; k < points; ++k) {
            const double heardS = out.timeOf(static_cast<double>(seg.sampleOf(k, kRate))) + lateS;
            m_strokes.push_back({std::llround(in.framesAt(heardS)), 0.5f, -1});
        }
        m_now = out.timeOf(static_cast<double>(seg.sampleOf(points, kRate))) + 0.3;
        w.tick();
    }

private slots:
    void init()
    {
        m_scheduled.clear();
        m_strokes.clear();
        m_kept.clear();
        m_armed = 0;
        m_outputRoom = 100;
        m_outLine = m_inLine = std::nullopt;
    }

    // The click on a card 250 ppm fast, the pad 150 ppm slow, ten minutes
    // after both lines' origins: through the lines, strokes on the clicks pass.
    void aPlanFollowsBothStreamsLines()
    {
        ClickSettings = TQX_ClickSettings{};
        m_outLine = StreamLine{100.0, 5.0e6, kRate * (1.0 + 250e-6)};
        m_inLine = StreamLine{100.0, 1.0e6, kRate * (1.0 - 150e-6)};
        m_now = 700.0;
        SpeedBuilderWindow w(hooks());
        w.start();
        w.tick();
        playLastRepetition(w, 2.0);
        QVERIFY2(w.statusText().startsWith(QStringLiteral("Pass:")), qPrintable(w.statusText()));
    }

    void aPlanStepsUpAndBackDownToItsTargetHandsFree()
    {
        ClickSettings = TQX_ClickSettings{};
        ClickSettings.LatencyUs = 7000;
        SpeedBuilderWindow w(hooks());
        w.findChild<QSpinBox*>("StartBpm")->setValue(100);
        w.findChild<QSpinBox*>("StepBpm")->setValue(4);
        w.findChild<QSpinBox*>("TargetBpm")->setValue(104);
        w.findChild<QSpinBox*>("Bars")->setValue(2);
        m_strokes.push_back({5, 0.5f, -1}); // before the plan: no repetition's
        w.start();
        QCOMPARE(m_armed, 1);
        QVERIFY(w.isRunning());
        w.tick();
        QCOMPARE(m_scheduled.size(), std::size_t{1});
        // The count-in starts kScheduleLeadS from now on the output stream.
        QCOMPARE(m_scheduled[0].startSample, std::llround((m_now + SpeedBuilder::kScheduleLeadS) * kRate + kOutputOffsetFrames));
        QCOMPARE(m_scheduled[0].pattern.tempoBpm, 100.0);
        QVERIFY(m_scheduled[0].pattern.countIn);
        QCOMPARE(w.statusText(), QString("Count-in: 100 BPM"));

        playLastRepetition(w, 3.0);
        QCOMPARE(w.statusText(), QString("Pass: 100 BPM, next 104"));
        QCOMPARE(m_scheduled.back().pattern.tempoBpm, 104.0);
        playLastRepetition(w, 20.0);
        QCOMPARE(w.statusText(), QString("Fail: 104 BPM, 0 % within ±15 ms, next 100"));
        playLastRepetition(w, -12.0);
        playLastRepetition(w, 0.0);
        QCOMPARE(w.statusText(), QString("Target reached: 104 BPM"));
        QVERIFY(!w.isRunning());
        QCOMPARE(m_scheduled.size(), std::size_t{4});

        // Kept after each of the first three repetitions and at the end, in one row.
        QCOMPARE(m_kept.size(), std::size_t{4});
        QCOMPARE(m_kept[0].id, std::int64_t{0});
        QCOMPARE(m_kept[0].highestCleanBpm, std::optional<double>(100.0));
        QVERIFY(!m_kept[2].reachedTarget);
        const SpeedPlanRecord& kept = m_kept.back();
        QCOMPARE(kept.id, std::int64_t{42});
        QCOMPARE(kept.repetitions, 4);
        QCOMPARE(kept.highestCleanBpm, std::optional<double>(104.0));
        QVERIFY(kept.reachedTarget);
        QCOMPARE(kept.startUtcMs, std::int64_t{1234});
        QCOMPARE(kept.bars, 2);
    }

    // Stopped halfway, cut off by a click that takes no more, or going when
    // the program closes, a plan is kept with what it reached; a plan whose
    // clocks never report ends by itself and keeps nothing.
    void aStoppedPlanIsKeptAndOneThatNeverStartsIsNot()
    {
        ClickSettings = TQX_ClickSettings{};
        SpeedBuilderWindow w(hooks());
        w.start();
        w.tick();
        playLastRepetition(w, 25.0);
        w.stop();
        QCOMPARE(w.statusText(), QString("Stopped"));
        QCOMPARE(m_kept.size(), std::size_t{2});
        QVERIFY(!m_kept[1].highestCleanBpm && !m_kept[1].reachedTarget && m_kept[1].id == 42);

        // A click that refuses the next repetition ends the plan, kept.
        m_scheduled.clear();
        m_outputRoom = 1;
        SpeedBuilderWindow refused(hooks());
        refused.start();
        refused.tick();
        playLastRepetition(refused, 0.0);
        QVERIFY(!refused.isRunning());
        QCOMPARE(refused.statusText(), QString("The click did not take the next repetition"));
        QCOMPARE(m_kept.size(), std::size_t{4});

        m_kept.clear();
        m_outputRoom = 100;
        {
            SpeedBuilderWindow closing(hooks());
            closing.start();
            closing.tick();
            playLastRepetition(closing, 2.0);
            playLastRepetition(closing, 30.0);
        }
        QCOMPARE(m_kept.size(), std::size_t{3});
        QCOMPARE(m_kept.back().repetitions, 2);
        QCOMPARE(m_kept.back().highestCleanBpm, std::optional<double>(SpeedPlan{}.startBpm));
        QCOMPARE(m_kept.back().id, std::int64_t{42});

        SpeedBuilderHooks silent = hooks();
        silent.strokes = [] { return SpeedStrokeFeed{}; };
        SpeedBuilderWindow never(silent);
        never.start();
        m_now += SpeedBuilderWindow::kClockWaitS + 1.0;
        never.tick();
        QVERIFY(!never.isRunning());
        QCOMPARE(never.statusText(), QString("The click or the trigger device did not start"));
        QCOMPARE(m_kept.size(), std::size_t{3});
    }
};

TEMPOVARO_QTEST(TestSpeedBuilderWindow)
#include "test_speed_builder_window.moc"
