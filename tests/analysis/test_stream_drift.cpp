// The drift between two streams' clocks, fitted from made-up position
// reports: noisy, on clocks whose absolute values run into days and
// billions of frames, and with the odd report far off.
#include "analysis/RunTiming.h"
#include "analysis/StreamDrift.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

// A device whose crystal runs ppm away from 44,100 Hz, started at startS on
// the monotonic clock, reporting every periodS with a late wake-up of up to
// jitterFrames (a deterministic pseudo-random sequence).
struct Device {
    double ppm;
    double startS;
    double periodS;
    double jitterFrames;
    std::uint32_t seed;
    double nominal = 44100.0; // 10,000,000 for MIDI's 100 ns stamps

    double rate() const { return nominal * (1.0 + ppm * 1e-6); }
    double framesAt(double s) const { return (s - startS) * rate(); }

    StreamRateFit fit(double untilS, double outlierFrames = 0.0)
    {
        StreamRateFit f;
        std::uint32_t x = seed;
        int k = 0;
        for (double s = startS + periodS; s < untilS; s += periodS, ++k) {
            x = x * 1664525u + 1013904223u;
            const double noise = (static_cast<double>(x >> 8) / 16777216.0 - 0.5) * 2.0 * jitterFrames;
            f.add(s, framesAt(s) + noise + (k == 100 ? outlierFrames : 0.0));
        }
        return f;
    }
};

} // namespace

TEST(StreamDrift, FollowsTwoCrystalsOverTenMinutes)
{
    // The output at +20 ppm; inputs from 80 ppm slower to 400 ppm faster
    // (20 ms a minute is 333 ppm). Ten minutes of reports after a machine
    // has been up for days: every output sample lands within half a sample.
    constexpr double kUpS = 3.5 * 86400.0;
    for (const double inPpm : {20.0, -60.0, 0.0, 353.0, 420.0}) {
        Device out{20.0, kUpS, 1024.0 / 44100.0, 40.0, 7u};
        Device in{inPpm, kUpS + 0.37, 1764.0 / 44100.0, 15.0, 11u};
        const auto outLine = out.fit(kUpS + 600.0).line();
        const auto inLine = in.fit(kUpS + 600.0).line();
        ASSERT_TRUE(outLine && inLine);
        EXPECT_NEAR(driftPpm(*outLine, *inLine), (in.rate() / out.rate() - 1.0) * 1e6, 0.05) << inPpm;
        for (const double s : {kUpS + 1.0, kUpS + 300.0, kUpS + 599.0}) {
            const double outFrames = out.framesAt(s);
            EXPECT_NEAR(inputFrameOf(outFrames, *outLine, *inLine), in.framesAt(s), 0.5) << inPpm << " at " << s - kUpS;
        }
    }
}

TEST(StreamDrift, FarReportsAreLeftOutAndAJumpStartsAfresh)
{
    // A report 200 frames off (a late wake-up) would tilt the line by more
    // than a sample at its ends.
    Device d{100.0, 1000.0, 1024.0 / 44100.0, 5.0, 3u};
    StreamRateFit fit = d.fit(1010.0, 200.0);
    EXPECT_EQ(fit.rejected(), 1);
    auto line = fit.line();
    ASSERT_TRUE(line);
    for (const double s : {1000.5, 1005.0, 1009.5})
        EXPECT_NEAR(line->framesAt(s), d.framesAt(s), 0.5) << s;
    EXPECT_NEAR(line->timeOf(d.framesAt(1005.0)), 1005.0, 0.5 / 44100.0);

    // A lost period moves every later position by 1764 frames: after a
    // second of those, the line follows the stream where it now stands.
    for (double s = 1010.0; s < 1012.0; s += 0.04)
        fit.add(s, d.framesAt(s) + 1764.0);
    line = fit.line();
    ASSERT_TRUE(line);
    EXPECT_NEAR(line->framesAt(1011.9), d.framesAt(1011.9) + 1764.0, 0.5);
}

TEST(StreamDrift, TooFewReportsGiveNoLine)
{
    StreamRateFit f;
    EXPECT_FALSE(f.line());
    f.add(5.0, 100.0);
    EXPECT_FALSE(f.line());
    f.add(5.0, 200.0); // two reports at one moment say nothing of a rate
    EXPECT_FALSE(f.line());
    f.add(6.0, 44300.0);
    EXPECT_TRUE(f.line());
    f.clear();
    EXPECT_EQ(f.count(), 0);
    EXPECT_FALSE(f.line());
}

// Ten minutes of beats at 60 BPM, every stroke exactly where its click is
// heard on the input (no latency), and the click put on the input's clock
// as a run does. Through both streams' lines (on one card, its offsets)
// every stroke times within a sample of its grid point; through the offsets
// at the nominal rate (even offsets exact at the run's start) the error
// grows with the clocks' difference, 6 ms a minute per 100 ppm.
TEST(StreamDrift, ARunsGridFollowsTheInputsClock)
{
    struct Case {
        const char* name;
        Device in;
        bool shared;
    };
    constexpr double kUpS = 2.0 * 86400.0;
    const Device out{20.0, kUpS, 1024.0 / 44100.0, 40.0, 7u};
    const Case cases[] = {
        {"card 100 ppm slower", {-80.0, kUpS + 95.0, 441.0 / 44100.0, 15.0, 11u}, false},
        {"card 400 ppm faster", {420.0, kUpS + 3.0, 1764.0 / 44100.0, 15.0, 13u}, false},
        {"MIDI stamps", {0.0, kUpS + 40.0, 0.5, 5000.0, 17u, 1e7}, false},
        {"one card, started apart", {20.0, kUpS + 300.0, 441.0 / 44100.0, 15.0, 19u}, true},
    };
    for (const Case& c : cases) {
        ClickSegment seg;
        seg.pattern.tempoBpm = 60.0;
        // The click's first sample a second after the run's input started.
        seg.startSample = std::llround(out.framesAt(c.in.startS + 1.0));
        const double endS = c.in.startS + 602.0;
        RunRecord run;
        run.ticksPerSecond = static_cast<std::int64_t>(c.in.nominal);
        for (std::int64_t k = 0; k < 600; ++k) {
            const double heardS = kUpS + static_cast<double>(seg.sampleOf(k, 44100.0)) / out.rate();
            run.strokes.push_back(StrokeEvent{std::llround(c.in.framesAt(heardS)), 1.0f, 0});
        }
        ClickOnOutput click{seg, 44100.0, out.framesAt(c.in.startS) - c.in.startS * 44100.0, 0, {}, c.shared};
        click.line = Device(out).fit(endS).line();
        StrokeClock clock{-c.in.startS * c.in.nominal, Device(c.in).fit(endS).line(), run.ticksPerSecond};
        ASSERT_TRUE(click.line && clock.line) << c.name;

        run.click = placeClick(click, clock);
        const auto timing = analyzeRunTiming(run);
        ASSERT_TRUE(timing) << c.name;
        EXPECT_EQ(timing->figures.all.strokes, 600) << c.name;
        double largestMs = 0.0;
        for (const StrokeTiming& s : timing->strokes)
            largestMs = std::max(largestMs, std::abs(s.offsetMs));
        EXPECT_LT(largestMs, 1000.0 / 44100.0) << c.name;
        const double ppm = c.shared ? 0.0 : (c.in.rate() / c.in.nominal / (out.rate() / 44100.0) - 1.0) * 1e6;
        EXPECT_NEAR(run.click->clockPpm, ppm, 0.1) << c.name;

        run.click = placeClick(click, clock.offsetTicks, run.ticksPerSecond);
        EXPECT_NEAR(*analyzeRunTiming(run)->figures.all.driftMsPerMinute, ppm * 0.06, 0.01 + std::abs(ppm) * 0.001)
            << c.name;
    }
}
