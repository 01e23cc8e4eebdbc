// Run figures on stroke times built by hand, with the expected values worked
// out from the definitions.
#include "analysis/RunFigures.h"

#include <gtest/gtest.h>

#include <cmath>

#include <vector>

namespace {

// Times from whole milliseconds, converted the way a record's ticks are.
std::vector<double> fromMs(const std::vector<std::int64_t>& ms)
{
    RunRecord run;
    run.ticksPerSecond = 1000;
    for (const auto t : ms)
        run.strokes.push_back({t, 1.0f, -1});
    return strokeSeconds(run);
}

// Strokes `count` intervals apart, continuing from the last time in ms.
void extend(std::vector<std::int64_t>& ms, std::int64_t intervalMs, int count)
{
    if (ms.empty())
        ms.push_back(0);
    for (int i = 0; i < count; ++i)
        ms.push_back(ms.back() + intervalMs);
}

} // namespace

TEST(RunFigures, EvenRunTimedAndUntimed)
{
    std::vector<std::int64_t> ms;
    extend(ms, 125, 40); // 41 strokes over 5 s
    const auto untimed = analyzeRun(fromMs(ms), std::nullopt).figures;
    EXPECT_EQ(untimed.strokes, 41);
    EXPECT_DOUBLE_EQ(*untimed.seconds, 5.0);
    EXPECT_DOUBLE_EQ(*untimed.strokesPerMinute, 480.0); // 40 intervals over 5 s
    EXPECT_DOUBLE_EQ(*untimed.meanIntervalMs, 125.0);
    EXPECT_NEAR(*untimed.intervalSdMs, 0.0, 1e-9);
    EXPECT_NEAR(*untimed.evennessCvPercent, 0.0, 1e-9);
    EXPECT_DOUBLE_EQ(*untimed.longestGapMs, 125.0);
    EXPECT_EQ(*untimed.bestSecond, 8); // [0, 1) holds 0 .. 0.875, not 1.0
    EXPECT_NEAR(*untimed.handBalancePercent, 0.0, 1e-9);
    EXPECT_EQ(*untimed.suspectedDoubles, 0);
    EXPECT_EQ(*untimed.suspectedMisses, 0);
    EXPECT_FALSE(untimed.first10sPerSecond || untimed.last10sPerSecond || untimed.fatiguePercent);

    const auto timed = analyzeRun(fromMs(ms), 6.0).figures;
    EXPECT_DOUBLE_EQ(*timed.seconds, 6.0);
    EXPECT_DOUBLE_EQ(*timed.strokesPerMinute, 410.0); // 41 strokes in 6 s
}

TEST(RunFigures, RunThatSlowsDownShowsFatigueAndItsSpeedCurve)
{
    std::vector<std::int64_t> ms;
    extend(ms, 100, 100); // 0 .. 10.0 s at 10 per second
    extend(ms, 200, 50);  // 10.2 .. 20.0 s at 5 per second
    const auto run = analyzeRun(fromMs(ms), std::nullopt);
    const auto& f = run.figures;
    EXPECT_DOUBLE_EQ(*f.seconds, 20.0);
    EXPECT_DOUBLE_EQ(*f.first10sPerSecond, 10.0); // 0 .. 9.9
    EXPECT_DOUBLE_EQ(*f.last10sPerSecond, 5.0);   // after 10.0: 10.2 .. 20.0
    EXPECT_DOUBLE_EQ(*f.fatiguePercent, 50.0);
    EXPECT_NEAR(*f.longestGapMs, 200.0, 1e-9);
    EXPECT_EQ(*f.bestSecond, 10);
    // A change of tempo is not a run of misses: the neighbourhood follows it.
    EXPECT_EQ(*f.suspectedMisses, 0);
    EXPECT_EQ(*f.suspectedDoubles, 0);

    ASSERT_EQ(run.speed.size(), 191u); // 1.0, 1.1, ..., 20.0 s
    EXPECT_DOUBLE_EQ(run.speed.front().timeS, 1.0);
    EXPECT_NEAR(run.speed.front().strokesPerSecond, 10.0, 1e-9);
    EXPECT_DOUBLE_EQ(run.speed[95].timeS, 10.5);
    // [9.5, 10.5): five 100 ms intervals, then 10.0 .. 10.4 (two 200 ms
    // ones) and half of 10.4 .. 10.6.
    EXPECT_NEAR(run.speed[95].strokesPerSecond, 7.5, 1e-9);
    EXPECT_DOUBLE_EQ(run.speed.back().timeS, 20.0);
    EXPECT_NEAR(run.speed.back().strokesPerSecond, 5.0, 1e-9);

    // A timed run's curve goes on to its end after the last stroke, falling
    // as the silence fills the window.
    const auto timed = analyzeRun(fromMs({0, 500, 1000}), 3.0).speed;
    ASSERT_EQ(timed.size(), 21u);
    EXPECT_NEAR(timed[0].strokesPerSecond, 2.0, 1e-9);
    EXPECT_NEAR(timed[1].strokesPerSecond, 1.8, 1e-9); // [0.1, 1.1): 0.4 s of one interval, all of the next
    EXPECT_NEAR(timed[5].strokesPerSecond, 1.0, 1e-9); // [0.5, 1.5): one interval, then silence
    EXPECT_EQ(timed.back().strokesPerSecond, 0.0);
}

// A steady run is steady in every figure: its last 10 s span as long a time
// as its first, whether the run was timed or not, and its speed curve is
// flat even where a second holds 12 strokes and the next 13.
TEST(RunFigures, SteadyRunsShowNoFatigueAndAFlatSpeedCurve)
{
    struct Case {
        double perSecond;
        std::optional<double> recordingS;
        bool strokeOnTheEnd; // a stroke stamped at the end instant itself
        double wobbleS = 0.0; // onsets a sample early and late by turns
    };
    constexpr double kOneSampleS = 1.0 / 44100.0;
    const Case cases[] = {
        {8.0, 30.0, false},  {12.0, 30.0, false},   {16.0, 20.0, false},    {12.0, 30.0, true},
        {8.0, std::nullopt, false}, {12.27, std::nullopt, false}, {16.0, std::nullopt, false},
        {12.0, 20.0, false, kOneSampleS}, {8.0, 20.0, false, -kOneSampleS}, {16.0, std::nullopt, false, kOneSampleS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.perSecond << "/s " << (c.recordingS ? "timed" : "untimed") << " wobble "
                                        << c.wobbleS);
        const double endS = c.recordingS.value_or(25.0);
        std::vector<double> times;
        for (int i = 0; i / c.perSecond < endS - 1e-12; ++i)
            times.push_back(i / c.perSecond + (i == 0 ? 0.0 : i % 2 ? c.wobbleS : -c.wobbleS));
        if (c.strokeOnTheEnd)
            times.push_back(endS);
        const auto run = analyzeRun(times, c.recordingS);
        ASSERT_TRUE(run.figures.fatiguePercent);
        EXPECT_EQ(*run.figures.fatiguePercent, 0.0);
        EXPECT_DOUBLE_EQ(*run.figures.last10sPerSecond, *run.figures.first10sPerSecond);
        if (c.perSecond == std::floor(c.perSecond)) {
            EXPECT_EQ(run.figures.bestSecond, static_cast<std::int32_t>(c.perSecond));
        }
        if (c.wobbleS != 0.0)
            continue;

        const double lastS = c.strokeOnTheEnd ? times[times.size() - 2] : times.back();
        for (const SpeedPoint& p : run.speed) {
            if (p.timeS <= lastS) {
                ASSERT_NEAR(p.strokesPerSecond, c.perSecond, 1e-9) << p.timeS;
            }
        }
    }
}

TEST(RunFigures, AlternatingLongShortIsHandBalanceNotDoubles)
{
    std::vector<std::int64_t> ms{0};
    for (int i = 0; i < 20; ++i) {
        extend(ms, 120, 1);
        extend(ms, 80, 1);
    }
    const auto f = analyzeRun(fromMs(ms), std::nullopt).figures;
    EXPECT_NEAR(*f.meanIntervalMs, 100.0, 1e-9);
    EXPECT_NEAR(*f.intervalSdMs, 20.0, 1e-9);
    EXPECT_NEAR(*f.evennessCvPercent, 20.0, 1e-9);
    EXPECT_NEAR(*f.handBalancePercent, 40.0, 1e-9);
    EXPECT_EQ(*f.suspectedDoubles, 0);
    EXPECT_EQ(*f.suspectedMisses, 0);
}

TEST(RunFigures, DoublesAndMissesAreMarkedWhereTheyHappen)
{
    // A bounce right at the start (the neighbourhood is cut by the run's
    // start), one in the middle and a lost stroke near the end.
    std::vector<std::int64_t> ms{0, 20};
    extend(ms, 80, 1);
    extend(ms, 100, 10);
    ms.push_back(ms.back() + 25);
    extend(ms, 75, 1);
    extend(ms, 100, 10);
    extend(ms, 200, 1);
    extend(ms, 100, 2);
    const auto run = analyzeRun(fromMs(ms), std::nullopt);
    EXPECT_EQ(*run.figures.suspectedDoubles, 2);
    EXPECT_EQ(*run.figures.suspectedMisses, 1);
    std::vector<std::pair<std::int32_t, IntervalMark>> marked;
    for (const auto& i : run.intervals)
        if (i.mark != IntervalMark::Normal)
            marked.push_back({i.stroke, i.mark});
    const std::vector<std::pair<std::int32_t, IntervalMark>> expected{
        {2, IntervalMark::SuspectedDouble}, {14, IntervalMark::SuspectedDouble}, {26, IntervalMark::SuspectedMiss}};
    EXPECT_EQ(marked, expected);
    EXPECT_NEAR(run.intervals[24].ms, 200.0, 1e-9);
}

TEST(RunFigures, TooFewStrokesLeaveFiguresEmpty)
{
    const auto none = analyzeRun(std::vector<double>{}, std::nullopt).figures;
    EXPECT_EQ(none.strokes, 0);
    EXPECT_FALSE(none.seconds || none.strokesPerMinute || none.bestSecond || none.meanIntervalMs);

    const auto one = analyzeRun(fromMs({0}), std::nullopt).figures;
    EXPECT_DOUBLE_EQ(*one.seconds, 0.0);
    EXPECT_FALSE(one.strokesPerMinute || one.meanIntervalMs || one.longestGapMs || one.evennessCvPercent);
    EXPECT_EQ(*one.bestSecond, 1);

    const auto two = analyzeRun(fromMs({0, 100}), std::nullopt).figures;
    EXPECT_TRUE(two.meanIntervalMs && two.strokesPerMinute);
    EXPECT_FALSE(two.handBalancePercent || two.suspectedDoubles);

    const auto three = analyzeRun(fromMs({0, 100, 200}), std::nullopt).figures;
    EXPECT_TRUE(three.handBalancePercent);
    EXPECT_FALSE(three.suspectedDoubles || three.suspectedMisses);
    EXPECT_TRUE(analyzeRun(fromMs({0, 100, 200, 300}), std::nullopt).figures.suspectedMisses);

    // All strokes at one instant, or a timed run of no time, have no rate.
    const auto sameTime = analyzeRun(fromMs({0, 0, 0}), std::nullopt).figures;
    EXPECT_FALSE(sameTime.strokesPerMinute || sameTime.evennessCvPercent || sameTime.handBalancePercent);
    EXPECT_FALSE(analyzeRun(fromMs({0, 100}), 0.0).figures.strokesPerMinute);
}

TEST(RunFigures, FollowingStrokeByStrokeMatchesTheFinishedRun)
{
    // Misses and doubles near the growing end are where the settled marks
    // and the live tail could disagree with a fresh computation.
    std::vector<std::int64_t> ms{0};
    const std::int64_t pattern[] = {100, 100, 30, 70, 100, 260, 100, 100, 100, 15, 85, 100, 100, 220};
    for (int round = 0; round < 4; ++round)
        for (const auto d : pattern)
            extend(ms, d, 1);
    const auto times = fromMs(ms);

    RunAnalyzer live;
    for (std::size_t n = 1; n <= times.size(); ++n) {
        live.addStroke(times[n - 1]);
        const auto prefix = analyzeRun(std::vector<double>(times.begin(), times.begin() + n), std::nullopt);
        const auto f = live.figures();
        ASSERT_EQ(f.suspectedDoubles, prefix.figures.suspectedDoubles) << n;
        ASSERT_EQ(f.suspectedMisses, prefix.figures.suspectedMisses) << n;
        ASSERT_EQ(f.bestSecond, prefix.figures.bestSecond) << n;
        ASSERT_EQ(f.longestGapMs, prefix.figures.longestGapMs) << n;
        ASSERT_EQ(live.settledSpeedCurve().size(), prefix.speed.size()) << n;
        for (std::size_t i = 0; i < prefix.speed.size(); ++i)
            ASSERT_EQ(live.settledSpeedCurve()[i].strokesPerSecond, prefix.speed[i].strokesPerSecond) << n;
        for (std::size_t i = 0; i < live.settledIntervals(); ++i)
            ASSERT_EQ(live.interval(i).mark, prefix.intervals[i].mark) << n << " " << i;
    }
    const auto finished = analyzeRun(times, std::nullopt);
    EXPECT_EQ(*finished.figures.suspectedDoubles, 8);
    EXPECT_EQ(*finished.figures.suspectedMisses, 8);
}

TEST(RunFigures, RecordTicksBecomeSecondsFromTheFirstStroke)
{
    RunRecord run;
    run.ticksPerSecond = kAudioTicksPerSecond;
    run.strokes = {{441000, 1.0f, -1}, {485100, 1.0f, -1}, {463050, 1.0f, -1}};
    EXPECT_EQ(strokeSeconds(run), (std::vector<double>{0.0, 0.5, 1.0}));
    run.ticksPerSecond = 0;
    EXPECT_TRUE(strokeSeconds(run).empty());

    run.recordingTimeMs = 30000;
    EXPECT_FALSE(timedSeconds(run)); // stopped before its end
    run.ranToEnd = true;
    EXPECT_EQ(timedSeconds(run), 30.0);
    run.recordingTimeMs = -1;
    EXPECT_FALSE(timedSeconds(run));
}
