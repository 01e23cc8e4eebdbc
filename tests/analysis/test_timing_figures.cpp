// Timing figures on made-up takes whose offsets are known by construction.
#include "analysis/TimingFigures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

namespace {

struct Expected {
    double meanMs, sdMs, within10, within20, playedBpm, driftMsPerMinute, handAMs, handBMs;
    int missed, extra;
    bool overSilentBars;
};

struct Take {
    std::string name;
    TimingGrid grid;
    // The offset in ms of the stroke on grid point k, played as the n-th stroke.
    std::function<double(std::int64_t k, std::size_t n)> offsetMs;
    std::int64_t points;
    Expected expected;
};

std::vector<double> play(const Take& take)
{
    std::vector<double> times;
    for (std::int64_t k = 0; k < take.points; ++k)
        times.push_back(take.grid.timeOf(k) + take.offsetMs(k, times.size()) / 1000.0);
    return times;
}

TimingGrid grid(double bpm, int subdivision, double startS, SilentBars silent = {})
{
    TimingGrid g;
    g.tempoBpm = bpm;
    g.subdivision = subdivision;
    g.startS = startS;
    g.silent = silent;
    return g;
}

} // namespace

TEST(TimingFigures, MadeUpTakesGiveTheirKnownFigures)
{
    const double r = 0.002;         // 0.2 % fast
    const std::vector<Take> takes = {
        // Hand A 4.5 ms early, hand B 0.5 ms late: 5 ms apart, mean -2, spread 2.5.
        {"hands 5 ms apart", grid(120, 4, 2.0), [](std::int64_t, std::size_t n) { return n % 2 ? 0.5 : -4.5; }, 128,
         {-2.0, 2.5, 100, 100, 120, 0, -4.5, 0.5, 0, 0, false}},
        // Two bars with the click, two without: in each silent stretch the
        // player slides away at 20 ms a minute from a different start, and
        // is back on the click when it returns.
        {"drift in silent bars",
         grid(100, 2, 1.0, {2, 2}),
         [](std::int64_t k, std::size_t) {
             const std::int64_t stretch = k / 32; // 2 + 2 bars of 8 eighths
             if (k % 32 < 16)
                 return 0.0;
             const double intoSilenceS = static_cast<double>(k % 32 - 16) * 0.3;
             return (stretch % 2 ? 4.0 : -3.0) + 20.0 * intoSilenceS / 60.0;
         },
         128, {std::nan(""), std::nan(""), 100, 100, std::nan(""), 20.0, std::nan(""), std::nan(""), 0, 0, true}},
        // Steadily 0.2 % fast over 60 beats: the offsets fall by r of the time.
        {"fast throughout", grid(120, 1, 0.5),
         [r](std::int64_t k, std::size_t) { return -static_cast<double>(k) * 0.5 * r * 1000.0; }, 60,
         {-29.5, 17.318, 18.333, 35.0, 120.0 / (1 - r), -r * 60000.0 / (1 - r), -29.0, -30.0, 0, 0, false}},
    };
    for (const Take& take : takes) {
        SCOPED_TRACE(take.name);
        const auto a = analyzeTiming(play(take), take.grid);
        const auto& f = a.figures;
        const Expected& e = take.expected;
        const auto near = [](const std::optional<double>& v, double want, double tolerance) {
            if (std::isnan(want))
                return;
            ASSERT_TRUE(v.has_value());
            EXPECT_NEAR(*v, want, tolerance);
        };
        near(f.all.meanMs, e.meanMs, 0.05);
        near(f.all.sdMs, e.sdMs, 0.05);
        near(f.all.within10Percent, e.within10, 0.01);
        near(f.all.within20Percent, e.within20, 0.01);
        near(f.playedTempoBpm, e.playedBpm, 0.01);
        near(f.all.driftMsPerMinute, e.driftMsPerMinute, 0.05);
        near(f.handA.meanMs, e.handAMs, 0.05);
        near(f.handB.meanMs, e.handBMs, 0.05);
        EXPECT_EQ(f.missedGridPoints, e.missed);
        EXPECT_EQ(f.extraStrokes, e.extra);
        EXPECT_EQ(f.driftOverSilentBars, e.overSilentBars);
        EXPECT_EQ(f.gridPoints, take.points);
        EXPECT_EQ(f.all.strokes, take.points);
    }
}

TEST(TimingFigures, DoublesMissesAndTheCountInAreSortedOut)
{
    // Eighths at 90 BPM from 3 s for 4 bars (32 points, the end given).
    TimingGrid g = grid(90, 2, 3.0);
    g.endS = 3.0 + 32 * g.stepS() - 0.001;
    std::vector<double> times = {g.timeOf(-8), g.timeOf(-4)}; // played along with the count-in
    for (std::int64_t k = 0; k < 32; ++k) {
        if (k == 5 || k == 6)
            continue; // two grid points missed
        times.push_back(g.timeOf(k) + 0.004);
        if (k == 20)
            times.push_back(g.timeOf(k) + 0.030); // a bounce: further from the point, so the extra one
    }
    times.push_back(g.timeOf(40)); // after the end
    const auto a = analyzeTiming(times, g);
    EXPECT_EQ(a.figures.gridPoints, 32);
    EXPECT_EQ(a.figures.missedGridPoints, 2);
    EXPECT_EQ(a.figures.extraStrokes, 1);
    EXPECT_EQ(a.figures.outsideStrokes, 3);
    EXPECT_EQ(a.figures.all.strokes, 30);
    EXPECT_NEAR(*a.figures.all.meanMs, 4.0, 1e-6);
    EXPECT_EQ(a.strokes[0].fit, StrokeFit::Outside);
    const auto bounce = std::find_if(a.strokes.begin(), a.strokes.end(), [](const StrokeTiming& s) { return s.fit == StrokeFit::Extra; });
    ASSERT_NE(bounce, a.strokes.end());
    EXPECT_EQ(bounce->point, 20);
    EXPECT_NEAR(bounce->offsetMs, 30.0, 1e-6);

    // ±10 and ±20 ms take their edges in; the other windows count the same way.
    TimingGrid quarter = grid(60, 1, 0.0);
    const auto edges = analyzeTiming({0.010, 1.0 - 0.020, 2.0 + 0.0201, 3.0 - 0.015}, quarter);
    EXPECT_DOUBLE_EQ(*edges.figures.all.within10Percent, 25.0);
    EXPECT_DOUBLE_EQ(*edges.figures.all.within20Percent, 75.0);
    EXPECT_DOUBLE_EQ(*percentWithin(edges, 15.0), 50.0);
}

TEST(TimingFigures, NothingToMeasureGivesEmptyFigures)
{
    const auto none = analyzeTiming({}, grid(120, 4, 0.0));
    EXPECT_EQ(none.figures.gridPoints, 0);
    EXPECT_FALSE(none.figures.all.meanMs || none.figures.playedTempoBpm || percentWithin(none, 15.0));

    // One stroke: a mean but no spread, slope or tempo.
    const auto one = analyzeTiming({1.003}, grid(60, 1, 0.0));
    EXPECT_NEAR(*one.figures.all.meanMs, 3.0, 1e-9);
    EXPECT_FALSE(one.figures.all.sdMs || one.figures.all.driftMsPerMinute || one.figures.playedTempoBpm);
    EXPECT_EQ(one.figures.missedGridPoints, 1); // point 0 at 0 s

    // A grid that cannot be (no tempo, NaN start) times nothing and says so.
    for (TimingGrid bad : {grid(0, 4, 0.0), grid(120, 0, 0.0), grid(120, 4, std::nan(""))}) {
        const auto a = analyzeTiming({0.5, 1.0}, bad);
        EXPECT_EQ(a.figures.outsideStrokes, 2);
        EXPECT_EQ(a.figures.gridPoints, 0);
    }
}
